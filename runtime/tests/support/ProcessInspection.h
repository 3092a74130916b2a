#pragma once
// What a process holds, read from the system (Linux: /proc), to prove nothing leaks.

#include <cstddef>
#include <sys/types.h>
#include <vector>

namespace kestro::testing {

// Descriptors the process holds open.
size_t openDescriptorCount(pid_t pid);
// Its living children (zombies included).
std::vector<pid_t> childProcesses(pid_t pid);
// Its resident memory in KiB (0 when it cannot be read).
long residentKilobytes(pid_t pid);
// The processor time it has used, user and system, in seconds.
double cpuSeconds(pid_t pid);

} // namespace kestro::testing
