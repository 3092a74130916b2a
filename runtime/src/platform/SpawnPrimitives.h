#pragma once
// The operating-system-specific steps of starting a child, one implementation file per system
// (ChildProcessLinux.cpp, ChildProcessMacOS.cpp). Used only by ChildProcess.cpp.

#include "platform/FileDescriptor.h"

#include <optional>
#include <sys/types.h>

namespace kestro::spawning {

// Everything the child needs, prepared before it starts (nothing is allocated in between).
struct ChildSetup {
    const char* executable = nullptr;
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    const char* currentDirectory = nullptr; // nullptr: this process's
    int standardOutput = -1;                // becomes descriptor 1; -1: /dev/null
    int standardError = -1;                 // becomes descriptor 2; -1: /dev/null
    bool ownProcessGroup = false;
    bool endsWithParent = false;
};

// Starts the child with /dev/null as its input, default signal dispositions, an empty signal
// mask and no descriptor beyond 0, 1 and 2. 0 and its pid, or the error number of the step that
// failed (the child is then gone).
int startChild(const ChildSetup& setup, pid_t& pid);

// A close-on-exec descriptor that becomes readable once the child `pid` has ended (also when it
// already had); absent with errno set.
std::optional<FileDescriptor> exitNoticeFor(pid_t pid);

} // namespace kestro::spawning
