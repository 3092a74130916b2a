#pragma once
// Starting an outside program: an argument vector, never a shell, never a PATH search; standard
// input from /dev/null; no descriptor inherited beyond the three standard ones. The child value
// owns its process: it is waited for exactly once, and one still running when its owner goes is
// killed and reaped, so no child outlives its owner unseen.

#include "platform/FileDescriptor.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestro {

struct ProcessOptions {
    std::string executable; // absolute path, used as is
    std::vector<std::string> arguments;
    std::optional<std::string> currentDirectory;
    // "NAME=value" entries replacing the inherited environment; absent: this process's own.
    std::optional<std::vector<std::string>> environment;
    // Standard output and error on two pipes (the default), or both to /dev/null.
    bool captureOutput = true;
    // A descriptor that becomes readable once the child has ended, for event loops (`exitNotice`).
    bool watchExit = false;
    // Its own process group, so signals meant for this process's terminal do not reach it, and
    // what it leaves behind can be ended together (`signalGroup`).
    bool ownProcessGroup = false;
    // Linux: the child gets SIGTERM when the thread that started it ends, so a runtime killed
    // outright takes it along (the runtime's threads live as long as the runtime). Elsewhere:
    // no effect.
    bool endsWithParent = false;
};

struct SpawnResult;

class ChildProcess {
  public:
    static SpawnResult spawn(const ProcessOptions& options);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return m_pid; }
    // Read ends of the output pipes (captureOutput), close-on-exec.
    FileDescriptor& standardOutput() { return m_standardOutput; }
    FileDescriptor& standardError() { return m_standardError; }
    // Readable once the child has ended (watchExit); then `wait` returns at once.
    FileDescriptor& exitNotice() { return m_exitNotice; }

    // Blocks until the child has ended and reaps it; its exit status, 128 + the signal number
    // when a signal ended it. Later calls give the same status without waiting again.
    int wait();
    // Reaps the child when it has ended, without blocking; its status then, else absent.
    std::optional<int> tryWait();
    // Asks the child to end (SIGTERM); nothing once it has been reaped.
    void terminate();
    // Sends `signalNumber` to the child's process group (ownProcessGroup): what the child left
    // running there. Only until the child is reaped, so the group's number cannot have been
    // reused by then.
    void signalGroup(int signalNumber);

  private:
    ChildProcess() = default;
    void killAndReap();

    pid_t m_pid = -1;
    std::optional<int> m_status;
    bool m_ownGroup = false;
    FileDescriptor m_standardOutput;
    FileDescriptor m_standardError;
    FileDescriptor m_exitNotice;
};

struct SpawnResult {
    std::optional<ChildProcess> child;
    std::string error; // why the program could not be started, when `child` is absent
};

// Starts a program that nobody waits for (an opener handing a file to the desktop), with its
// output discarded; false when it could not be started. A thread of its own reaps it.
bool spawnDetached(ProcessOptions options);

// The exit status of a wait status; 128 + the signal number for a child killed by a signal.
int exitStatusOf(int waitStatus);

} // namespace kestro
