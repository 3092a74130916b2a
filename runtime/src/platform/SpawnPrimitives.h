#pragma once
// The operating-system-specific steps of starting a child, one implementation file per system
// (ChildProcessLinux.cpp, ChildProcessMacOS.cpp). Used only by ChildProcess.cpp.

#include "platform/FileDescriptor.h"

#include <optional>
#include <spawn.h>
#include <sys/types.h>

namespace kestro::spawning {

// Makes the child inherit no descriptor beyond the ones the actions place at 0, 1 and 2: an
// action or a spawn flag added to `flags`. 0, or an error number.
int limitInheritance(posix_spawn_file_actions_t* actions, short& flags);

// A close-on-exec descriptor that becomes readable once the child `pid` has ended (also when it
// already had); absent with errno set.
std::optional<FileDescriptor> exitNoticeFor(pid_t pid);

} // namespace kestro::spawning
