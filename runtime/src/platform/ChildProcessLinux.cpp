#include "platform/SpawnPrimitives.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace kestro::spawning {

int limitInheritance(posix_spawn_file_actions_t* actions, short& /*flags*/) {
    // Also closes what another thread opened without O_CLOEXEC while this child started.
    return posix_spawn_file_actions_addclosefrom_np(actions, 3);
}

std::optional<FileDescriptor> exitNoticeFor(pid_t pid) {
    // A pidfd is close-on-exec and becomes readable when the process ends, reaped or not.
    // Through syscall(): glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage.
    const auto fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return std::nullopt;
    return FileDescriptor(fd);
}

} // namespace kestro::spawning
