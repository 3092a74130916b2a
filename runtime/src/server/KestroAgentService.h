#pragma once
// What the router asks of the central state. Every operation is awaited from the connection's
// strand and never holds another request up: it waits only for its own work, and each source it
// waits on answers by its budget or gives its fallback.

#include "core/KestroAgentConfiguration.h"
#include "core/WireRecords.h"

#include <asio/awaitable.hpp>
#include <optional>
#include <string>

namespace kestro {

class KestroAgentService {
  public:
    virtual ~KestroAgentService() = default;

    // Fixed for the life of the process; readable from any thread without waiting.
    virtual const KestroAgentConfiguration& configuration() const = 0;

    virtual asio::awaitable<std::string> encodedStatus(std::optional<std::string> workingDirectory) = 0;
    virtual asio::awaitable<std::string> encodedThreadHistory(std::string threadID) = 0;
    virtual asio::awaitable<std::string> encodedSurfacePreview(std::string kind) = 0;
    // Throws KestroAgentError (invalidWorktreeName, processFailed).
    virtual asio::awaitable<KestroAgentWorktreePayload>
    createWorktree(std::string name, std::optional<std::string> workingDirectory) = 0;
};

} // namespace kestro
