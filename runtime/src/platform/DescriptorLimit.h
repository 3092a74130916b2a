#pragma once
// The open-descriptor limit of this process. A server with many connections needs more than the
// usual soft limit of 1,024. Children started on Linux get the limit back as it was, since
// programs that walk every possible descriptor, or use select(), expect the usual number; on
// macOS the raised limit is at most OPEN_MAX, which such programs handle.

#include <optional>
#include <sys/resource.h>

namespace kestro {

// Raises the soft limit to the hard one (or the most the system allows); the new soft limit.
// Call once at start-up, before any thread starts.
rlim_t raiseDescriptorLimit();

// The soft limit as it was before it was raised; absent when it was not raised.
std::optional<rlim_t> originalDescriptorLimit();

// The highest soft limit the system accepts under the hard limit `hard` (per system).
rlim_t descriptorLimitCeiling(rlim_t hard);

} // namespace kestro
