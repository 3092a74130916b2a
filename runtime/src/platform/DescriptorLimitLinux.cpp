#include "platform/DescriptorLimit.h"

namespace kestro {

rlim_t descriptorLimitCeiling(rlim_t hard) {
    return hard;
}

} // namespace kestro
