#include "platform/DescriptorLimit.h"
#include "platform/SpawnPrimitives.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestro::spawning {

namespace {

// Reports the child's failed step on the report pipe and ends the child.
[[noreturn]] void failChild(int report, int error) {
    while (::write(report, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

// The child's side, between fork and exec: only async-signal-safe calls, nothing allocated.
// Reports the error number of a failed step on `report` and ends.
[[noreturn]] void becomeChild(const ChildSetup& setup, pid_t parent, int report) {
    auto fail = [report](int error) { failChild(report, error); };

    // Signal handlers belong to the parent (one of them writes to the parent's own pipe): back
    // to the defaults while every signal is still blocked, then unblock.
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        if (signal == SIGKILL || signal == SIGSTOP) continue;
        ::sigaction(signal, &defaults, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    if (setup.endsWithParent) {
        // SIGTERM, not SIGKILL: a launcher (Codex's Node wrapper) passes it on to the program it
        // started, so the whole run ends.
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) fail(errno);
        if (::getppid() != parent) ::_exit(127); // the parent ended before the request took hold
    }
    if (setup.ownProcessGroup && ::setpgid(0, 0) != 0) fail(errno);

    // Sources below 3 would be overwritten by the placements that follow: move them up first.
    int output = setup.standardOutput;
    int errors = setup.standardError;
    if (output >= 0 && output < 3 && (output = ::fcntl(output, F_DUPFD_CLOEXEC, 3)) < 0) fail(errno);
    if (errors >= 0 && errors < 3 && (errors = ::fcntl(errors, F_DUPFD_CLOEXEC, 3)) < 0) fail(errno);
    // dup2 leaves the placed copy without close-on-exec; /dev/null is opened without it, for the
    // case where it lands on its target at once.
    auto place = [&fail](int source, int target, int nullMode) {
        if (source < 0 && (source = ::open("/dev/null", nullMode)) < 0) fail(errno);
        if (::dup2(source, target) < 0) fail(errno);
    };
    place(-1, 0, O_RDONLY);
    place(output, 1, O_WRONLY);
    place(errors, 2, O_WRONLY);

    if (setup.currentDirectory != nullptr && ::chdir(setup.currentDirectory) != 0) fail(errno);
    if (const auto original = originalDescriptorLimit()) {
        rlimit limit{};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
            limit.rlim_cur = *original;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    }
    // Descriptors another thread opened without close-on-exec are not inherited either; the
    // report pipe stays open until exec succeeds (it is close-on-exec).
    ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(setup.executable, setup.argv, setup.envp);
    failChild(report, errno);
}

} // namespace

int startChild(const ChildSetup& setup, pid_t& pid) {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return errno;
    // No signal may run a handler of ours in the child before it has reset them.
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        becomeChild(setup, parent, report[1]);
    }
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return forkError;
    }
    // The report pipe closes on a successful exec: no bytes means the program runs.
    int error = 0;
    ssize_t got;
    while ((got = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof error)) {
        int ignored;
        while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
        }
        return error != 0 ? error : ECHILD;
    }
    pid = child;
    return 0;
}

std::optional<FileDescriptor> exitNoticeFor(pid_t pid) {
    // A pidfd is close-on-exec and becomes readable when the process ends, reaped or not.
    // Through syscall(): glibc 2.36's <sys/pidfd.h> declares pidfd_open without C linkage.
    const auto fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return std::nullopt;
    return FileDescriptor(fd);
}

} // namespace kestro::spawning
