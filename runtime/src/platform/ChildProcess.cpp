#include "platform/ChildProcess.h"

#include "platform/SpawnPrimitives.h"
#include "platform/SystemError.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace kestro {

namespace {

std::string launchError(const ProcessOptions& options, int error) {
    if (options.currentDirectory) {
        struct stat info {};
        if (::stat(options.currentDirectory->c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return "The folder " + *options.currentDirectory + " does not exist or is not a folder.";
    }
    return "Could not start " + options.executable + ": " + errnoText(error);
}

std::vector<char*> nullTerminated(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
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

void routeOutput(SpawnSetup& setup, const std::optional<Pipe>& pipe, int target) {
    if (pipe)
        setup.step(posix_spawn_file_actions_adddup2(setup.actions(), pipe->writeEnd.get(), target));
    else
        setup.step(posix_spawn_file_actions_addopen(setup.actions(), target, "/dev/null", O_WRONLY, 0));
}

// 0 and the child's pid, or the error number of the first step that failed.
int startChild(const ProcessOptions& options, const std::optional<Pipe>& output,
               const std::optional<Pipe>& errors, char* const* argv, char* const* envp, pid_t& pid) {
    SpawnSetup setup;
    short flags = 0;
    setup.step(posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0));
    routeOutput(setup, output, 1);
    routeOutput(setup, errors, 2);
    setup.step(spawning::limitInheritance(setup.actions(), flags));
    if (options.currentDirectory)
        setup.step(posix_spawn_file_actions_addchdir_np(setup.actions(), options.currentDirectory->c_str()));
    if (options.ownProcessGroup) flags |= POSIX_SPAWN_SETPGROUP;
    setup.step(posix_spawnattr_setflags(setup.attributes(), flags));
    if (setup.error() != 0) return setup.error();
    return ::posix_spawn(&pid, options.executable.c_str(), setup.actions(), setup.attributes(), argv, envp);
}

int reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 1; // not our child any more: nothing left to learn
    }
    return exitStatusOf(status);
}

} // namespace

SpawnResult ChildProcess::spawn(const ProcessOptions& options) {
    std::optional<Pipe> output, errors;
    if (options.captureOutput) {
        output = closeOnExecPipe();
        if (output) errors = closeOnExecPipe();
        if (!output || !errors) return {std::nullopt, "Could not create pipes: " + errnoText(errno)};
    }

    std::vector<std::string> argumentTexts{options.executable};
    argumentTexts.insert(argumentTexts.end(), options.arguments.begin(), options.arguments.end());
    std::vector<char*> argv = nullTerminated(argumentTexts);
    std::vector<std::string> environmentTexts = options.environment.value_or(std::vector<std::string>{});
    std::vector<char*> envp = nullTerminated(environmentTexts);

    ChildProcess child;
    const int failure = startChild(options, output, errors, argv.data(),
                                   options.environment ? envp.data() : environ, child.m_pid);
    if (failure != 0) return {std::nullopt, launchError(options, failure)};
    if (output) {
        child.m_standardOutput = std::move(output->readEnd);
        child.m_standardError = std::move(errors->readEnd);
    }
    // The write ends close here, so the reader sees the end once the child's copies are gone.
    output.reset();
    errors.reset();
    if (options.watchExit) {
        auto notice = spawning::exitNoticeFor(child.m_pid);
        if (!notice) {
            const int error = errno;
            // Unwatched, the child could not be waited for without blocking: it does not run.
            return {std::nullopt, "Could not watch " + options.executable + ": " + errnoText(error)};
        }
        child.m_exitNotice = std::move(*notice);
    }
    return {std::move(child), ""};
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : m_pid(std::exchange(other.m_pid, -1)), m_status(std::exchange(other.m_status, std::nullopt)),
      m_standardOutput(std::move(other.m_standardOutput)), m_standardError(std::move(other.m_standardError)),
      m_exitNotice(std::move(other.m_exitNotice)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        killAndReap();
        m_pid = std::exchange(other.m_pid, -1);
        m_status = std::exchange(other.m_status, std::nullopt);
        m_standardOutput = std::move(other.m_standardOutput);
        m_standardError = std::move(other.m_standardError);
        m_exitNotice = std::move(other.m_exitNotice);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    killAndReap();
}

void ChildProcess::killAndReap() {
    if (m_pid <= 0 || m_status) return;
    ::kill(m_pid, SIGKILL);
    wait();
}

int ChildProcess::wait() {
    if (!m_status) m_status = reap(m_pid);
    return *m_status;
}

std::optional<int> ChildProcess::tryWait() {
    if (m_status || m_pid <= 0) return m_status;
    int status = 0;
    pid_t reaped;
    while ((reaped = ::waitpid(m_pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (reaped == m_pid)
        m_status = exitStatusOf(status);
    else if (reaped < 0)
        m_status = 1; // not our child any more: nothing left to learn
    return m_status;
}

void ChildProcess::terminate() {
    if (m_pid > 0 && !m_status) ::kill(m_pid, SIGTERM);
}

bool spawnDetached(ProcessOptions options) {
    options.captureOutput = false;
    options.watchExit = false;
    SpawnResult spawned = ChildProcess::spawn(options);
    if (!spawned.child) return false;
    // Fire and forget, rare (an opener at start-up), and it may outlive every request: a plain
    // thread that blocks in the wait is the simplest reaper that works on every system.
    std::thread([child = std::move(*spawned.child)]() mutable { child.wait(); }).detach();
    return true;
}

int exitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return 1;
}

} // namespace kestro
