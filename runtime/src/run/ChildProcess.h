#pragma once
// Starting an outside program with its output on two pipes: an argument vector, never a shell;
// standard input from /dev/null; no descriptor inherited beyond the three standard ones.

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestro {

struct ProcessOptions {
    std::string executable; // absolute path, used as is (no PATH search, no shell)
    std::vector<std::string> arguments;
    std::optional<std::string> currentDirectory;
};

struct SpawnedChild {
    pid_t pid = -1;
    int standardOutput = -1; // read ends, close-on-exec, owned by the caller
    int standardError = -1;
};

struct SpawnResult {
    std::optional<SpawnedChild> child;
    std::string error; // why the program could not be started, when `child` is absent
};

SpawnResult spawnWithPipes(const ProcessOptions& options);

// The exit status of a wait status; 128 + the signal number for a child killed by a signal.
int exitStatusOf(int waitStatus);

} // namespace kestro
