#pragma once
// What a process holds, read from the system (Linux: /proc), to prove nothing leaks.

#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestro::testing {

// Built with AddressSanitizer or ThreadSanitizer: memory figures mean little then (freed memory
// is held in quarantine), and the sanitizers' own checks need spare descriptors.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif
// The sanitizers slow every step several times over: a bound on how long an answer may wait
// (which tells "answered at once" from "waited on other work") is scaled by this.
inline constexpr int kSanitizerSlowdown = kSanitizedBuild ? 5 : 1;

// Descriptors the process holds open.
size_t openDescriptorCount(pid_t pid);
// Its living children (zombies included).
std::vector<pid_t> childProcesses(pid_t pid);
// Its resident memory in KiB (0 when it cannot be read).
long residentKilobytes(pid_t pid);
// The most resident memory it has had since it started, in KiB (0 when it cannot be read).
long peakResidentKilobytes(pid_t pid);
// The processor time it has used, user and system, in seconds.
double cpuSeconds(pid_t pid);
// It exists and has not ended (a zombie has ended).
bool isRunning(pid_t pid);
// Its environment as "NAME=value" entries, as the system shows it.
std::vector<std::string> environmentOf(pid_t pid);
// Its command line as the system shows it, the arguments separated by spaces.
std::string commandLineOf(pid_t pid);
// Its soft limit of open descriptors (-1 when it cannot be read).
long softDescriptorLimit(pid_t pid);

} // namespace kestro::testing
