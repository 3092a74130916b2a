#pragma once
// Runs short outside programs to their end and collects everything they wrote.
// Blocking: call it from the state's serial executor, never from an I/O thread.

#include "platform/ChildProcess.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace kestro {

struct ProcessRunResult {
    int status = 1; // exit status; 1 when the program could not be started
    // Named for the streams; `stdout` and `stderr` themselves are C library macros.
    std::string standardOutput; // whole standard output, lossy UTF-8, untrimmed
    std::string standardError;  // whole standard error, or why the program could not be started
    bool operator==(const ProcessRunResult&) const = default;
};

// How long a short program may take, and how much of each stream is kept (the rest is read and
// dropped). A program still running at its time is killed with everything in its process group:
// a hung program (a stuck hook, a dead network folder) must not hold the caller for good.
struct RunLimits {
    std::chrono::milliseconds time = std::chrono::seconds(60);
    size_t outputBytes = 64 * 1024 * 1024;
};

// Standard input is /dev/null; both output pipes are drained together while the child runs;
// the child inherits no descriptor but its three standard ones and has its own process group.
// Past its time the status is 1 and standard error says it took too long.
ProcessRunResult runProcess(const ProcessOptions& options, RunLimits limits = {});

// Standard output when not empty, else standard error. The status is dropped.
std::string runCommand(const std::string& executable, const std::vector<std::string>& arguments);

} // namespace kestro
