#pragma once
// The pairing-token check. Reads only its arguments: it never waits on the central state.

#include <map>
#include <optional>
#include <string>

namespace kestro {

// The token a request presents: x-kestro-token, else x-vesk-token, else authorization
// with every "Bearer " removed. The first header present decides.
std::optional<std::string> presentedToken(const std::map<std::string, std::string>& headers);

// Throws KestroAgentError::unauthorized unless the presented token equals `token` exactly.
// The comparison takes the same time wherever the texts differ.
void authorize(const std::map<std::string, std::string>& headers, const std::string& token);

} // namespace kestro
