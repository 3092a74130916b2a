#include "platform/SpawnPrimitives.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/event.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestro::spawning {

namespace {

bool markCloseOnExec(int fd) {
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// Owns the spawn attributes and file actions; keeps the error number of the first failed step.
class SpawnSetup {
  public:
    SpawnSetup() {
        m_error = posix_spawn_file_actions_init(&m_actions);
        m_hasActions = m_error == 0;
        if (m_hasActions) m_error = posix_spawnattr_init(&m_attributes);
        m_hasAttributes = m_hasActions && m_error == 0;
    }
    ~SpawnSetup() {
        if (m_hasActions) posix_spawn_file_actions_destroy(&m_actions);
        if (m_hasAttributes) posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    void step(int result) {
        if (m_error == 0) m_error = result;
    }
    int error() const { return m_error; }
    posix_spawn_file_actions_t* actions() { return &m_actions; }
    posix_spawnattr_t* attributes() { return &m_attributes; }

  private:
    posix_spawn_file_actions_t m_actions{};
    posix_spawnattr_t m_attributes{};
    bool m_hasActions = false;
    bool m_hasAttributes = false;
    int m_error = 0;
};

void routeOutput(SpawnSetup& setup, int source, int target) {
    if (source >= 0)
        setup.step(posix_spawn_file_actions_adddup2(setup.actions(), source, target));
    else
        setup.step(posix_spawn_file_actions_addopen(setup.actions(), target, "/dev/null", O_WRONLY, 0));
}

} // namespace

int startChild(const ChildSetup& childSetup, pid_t& pid) {
    // There is no parent-death signal here: the runtime ends its runs itself when it is asked to
    // stop (endsWithParent has no effect).
    SpawnSetup setup;
    // Only the descriptors the file actions name are inherited.
    short flags = POSIX_SPAWN_CLOEXEC_DEFAULT | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    setup.step(posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0));
    routeOutput(setup, childSetup.standardOutput, 1);
    routeOutput(setup, childSetup.standardError, 2);
    if (childSetup.currentDirectory != nullptr)
        setup.step(posix_spawn_file_actions_addchdir_np(setup.actions(), childSetup.currentDirectory));
    if (childSetup.ownProcessGroup) flags |= POSIX_SPAWN_SETPGROUP;
    // The signal this process ignores (SIGPIPE) is not ignored by the child, and none is blocked.
    sigset_t defaults, none;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigemptyset(&none);
    setup.step(posix_spawnattr_setsigdefault(setup.attributes(), &defaults));
    setup.step(posix_spawnattr_setsigmask(setup.attributes(), &none));
    setup.step(posix_spawnattr_setflags(setup.attributes(), flags));
    if (setup.error() != 0) return setup.error();
    return ::posix_spawn(&pid, childSetup.executable, setup.actions(), setup.attributes(), childSetup.argv,
                         childSetup.envp);
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
