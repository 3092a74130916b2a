#pragma once
// What the router asks of the central state. Every operation here runs as one serialized
// operation of the state; the caller (the router) puts it on the state's SerialExecutor.

#include "core/KestroAgentConfiguration.h"
#include "core/WireRecords.h"

#include <optional>
#include <string>

namespace kestro {

class KestroAgentService {
  public:
    virtual ~KestroAgentService() = default;

    // Fixed for the life of the process; readable from any thread without waiting.
    virtual const KestroAgentConfiguration& configuration() const = 0;

    virtual std::string encodedStatus(const std::optional<std::string>& workingDirectory) = 0;
    virtual std::string encodedThreadHistory(const std::string& threadID) = 0;
    virtual std::string encodedSurfacePreview(const std::string& kind) = 0;
    // Throws KestroAgentError (invalidWorktreeName, processFailed).
    virtual KestroAgentWorktreePayload createWorktree(const std::string& name,
                                                      const std::optional<std::string>& workingDirectory) = 0;
};

} // namespace kestro
