#include "platform/SpawnPrimitives.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <sys/event.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestro::spawning {

namespace {

bool markCloseOnExec(int fd) {
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

int limitInheritance(posix_spawn_file_actions_t* /*actions*/, short& flags) {
    // Only the descriptors the file actions name are inherited.
    flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
    return 0;
}

std::optional<FileDescriptor> exitNoticeFor(pid_t pid) {
    FileDescriptor queue(::kqueue());
    if (!queue.isOpen() || !markCloseOnExec(queue.get())) return std::nullopt;
    struct kevent change;
    EV_SET(&change, pid, EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0, nullptr);
    if (::kevent(queue.get(), &change, 1, nullptr, 0, nullptr) != 0 && errno != ESRCH) return std::nullopt;
    // The exit note fires only for an exit after it was registered: a child that has already
    // ended (and waits to be reaped) makes the queue readable through a user event instead.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
        info.si_pid == pid) {
        EV_SET(&change, 1, EVFILT_USER, EV_ADD | EV_ONESHOT, NOTE_TRIGGER, 0, nullptr);
        if (::kevent(queue.get(), &change, 1, nullptr, 0, nullptr) != 0) return std::nullopt;
    }
    return queue;
}

} // namespace kestro::spawning
