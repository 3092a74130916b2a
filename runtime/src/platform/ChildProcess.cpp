#include "platform/ChildProcess.h"

#include "platform/SpawnPrimitives.h"
#include "platform/SystemError.h"

#include <cerrno>
#include <csignal>
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
    const spawning::ChildSetup setup{
        .executable = options.executable.c_str(),
        .argv = argv.data(),
        .envp = options.environment ? envp.data() : environ,
        .currentDirectory = options.currentDirectory ? options.currentDirectory->c_str() : nullptr,
        .standardOutput = output ? output->writeEnd.get() : -1,
        .standardError = errors ? errors->writeEnd.get() : -1,
        .ownProcessGroup = options.ownProcessGroup,
        .endsWithParent = options.endsWithParent};
    const int failure = spawning::startChild(setup, child.m_pid);
    if (failure != 0) return {std::nullopt, launchError(options, failure)};
    child.m_ownGroup = options.ownProcessGroup;
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
      m_ownGroup(other.m_ownGroup), m_standardOutput(std::move(other.m_standardOutput)),
      m_standardError(std::move(other.m_standardError)), m_exitNotice(std::move(other.m_exitNotice)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        killAndReap();
        m_pid = std::exchange(other.m_pid, -1);
        m_status = std::exchange(other.m_status, std::nullopt);
        m_ownGroup = other.m_ownGroup;
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

void ChildProcess::signalGroup(int signalNumber) {
    if (m_ownGroup && m_pid > 0 && !m_status) ::killpg(m_pid, signalNumber);
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
