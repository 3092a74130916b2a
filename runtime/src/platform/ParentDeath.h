#pragma once
// For a child between fork and exec, started by a program that is not built on ChildProcess (the
// companion's Qt processes): ask the system to send it SIGTERM when its parent goes. One
// implementation file per operating system.

#include <sys/types.h>

namespace kestro {

// Async-signal-safe. On Linux the signal comes when the thread that started the child ends (start
// children from a thread that lives as long as the program); false when `parent` had already
// gone before the request took hold. Elsewhere nothing is asked and the answer is true: such a
// child needs another way to notice (a pipe from the parent).
bool endWithParent(pid_t parent) noexcept;

} // namespace kestro
