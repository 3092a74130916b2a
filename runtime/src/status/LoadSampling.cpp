#include "status/LoadSampling.h"

#include <algorithm>

namespace kestro {

CPULoadReading cpuLoadBetween(const std::optional<CPUTickSample>& previous,
                              const std::optional<CPUTickSample>& current, bool busy) {
    if (!current) return {busy ? 0.34 : 0.08, false};
    // A counter that went backwards (wrapped or reset) scores like a first reading.
    const bool wrapped = previous && (current->user < previous->user || current->system < previous->system ||
                                      current->idle < previous->idle || current->nice < previous->nice);
    if (!previous || wrapped) return {busy ? 0.22 : 0.07, true};
    const double user = double(current->user - previous->user);
    const double system = double(current->system - previous->system);
    const double idle = double(current->idle - previous->idle);
    const double nice = double(current->nice - previous->nice);
    const double total = user + system + idle + nice;
    if (!(total > 0)) return {busy ? 0.24 : 0.06, true};
    return {std::min(std::max((user + system + nice) / total, 0.03), 0.96), true};
}

double ramLoadOf(const std::optional<MemorySample>& sample, bool busy) {
    const double fallback = busy ? 0.46 : 0.31;
    if (!sample || !(sample->physicalBytes > 0)) return fallback;
    return std::min(std::max(sample->usedBytes / sample->physicalBytes, 0.05), 0.98);
}

} // namespace kestro
