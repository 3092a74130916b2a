#pragma once
// The fixed start-up banner the companion reads line by line; every inserted value has its
// control characters written as visible escapes, so each line stays one line.

#include "core/KestroAgentConfiguration.h"
#include "core/WireRecords.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

std::vector<std::string> bannerLines(const KestroAgentConfiguration& configuration,
                                     const KestroAgentStatusPayload& snapshot, const std::string& pairLink,
                                     const std::optional<std::string>& pairPagePath);

} // namespace kestro
