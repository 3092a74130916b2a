#pragma once
// The kestro://pair link, the host it advertises and the machine's IPv4 address.
// Pure functions over the configuration and the platform's interface list.

#include "core/KestroAgentConfiguration.h"
#include "platform/Host.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// The first up, non-loopback IPv4 address in the system's order; "127.0.0.1" when none.
std::string detectIPAddress(const std::optional<std::vector<InterfaceAddress>>& interfaces);

// The trimmed advertised host, else the trimmed host unless it only means "this machine",
// else the detected address.
std::string preferredAdvertisedHost(const KestroAgentConfiguration& configuration,
                                    const std::string& ipAddress);

// kestro://pair?name=…&host=…&port=…&token=…&workdir=…&preferred=1
std::string pairingLink(const KestroAgentConfiguration& configuration, const std::string& advertisedHost);

// Percent-encodes a query name or value; "&", "=", "+" and "#" are encoded too.
std::string percentEncodedQueryValue(std::string_view text);

// Machine name lower-cased with spaces and "/" turned into "-", control characters dropped, and
// cut to at most kLongestPairingSlug bytes at a character boundary: the pairing files' names stay
// printable and within the file system's limit on a name.
inline constexpr size_t kLongestPairingSlug = 128;
std::string pairingSlug(const std::string& machineName);

// "&", double quote, "<" and ">" escaped, in that order.
std::string kestroHTMLEscaped(std::string_view text);

} // namespace kestro
