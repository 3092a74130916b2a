#include "platform/DescriptorLimit.h"

#include <algorithm>
#include <climits>

namespace kestro {

rlim_t descriptorLimitCeiling(rlim_t hard) {
    // The hard limit is often "unlimited" here, and setrlimit refuses more than OPEN_MAX.
    return std::min<rlim_t>(hard, OPEN_MAX);
}

} // namespace kestro
