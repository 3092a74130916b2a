#include "platform/DescriptorLimit.h"

namespace kestro {

namespace {
// Written once before any thread starts, read afterwards only.
std::optional<rlim_t> s_original;
} // namespace

rlim_t raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
    const rlim_t wanted = descriptorLimitCeiling(limit.rlim_max);
    if (limit.rlim_cur >= wanted) return limit.rlim_cur;
    const rlim_t original = limit.rlim_cur;
    limit.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return original;
    s_original = original;
    return limit.rlim_cur;
}

std::optional<rlim_t> originalDescriptorLimit() {
    return s_original;
}

} // namespace kestro
