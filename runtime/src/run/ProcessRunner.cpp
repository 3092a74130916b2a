#include "run/ProcessRunner.h"

#include "platform/SystemError.h"
#include "text/Text.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestro {

namespace {

class Pipe {
public:
    Pipe() {
        if (::pipe2(m_ends, O_CLOEXEC) != 0) m_ends[0] = m_ends[1] = -1;
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    bool valid() const { return m_ends[0] >= 0; }
    int readEnd() const { return m_ends[0]; }
    int writeEnd() const { return m_ends[1]; }
    void closeRead() { closeEnd(0); }
    void closeWrite() { closeEnd(1); }

private:
    void closeEnd(int which) {
        if (m_ends[which] >= 0) ::close(m_ends[which]);
        m_ends[which] = -1;
    }
    int m_ends[2];
};

void drainTogether(Pipe& out, Pipe& err, std::string& outBytes, std::string& errBytes) {
    std::array<char, 65536> chunk;
    pollfd fds[2] = {{out.readEnd(), POLLIN, 0}, {err.readEnd(), POLLIN, 0}};
    std::string* sinks[2] = {&outBytes, &errBytes};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = ::read(fds[i].fd, chunk.data(), chunk.size());
            if (got > 0) {
                sinks[i]->append(chunk.data(), static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

} // namespace

ProcessRunResult runProcess(const ProcessOptions& options) {
    Pipe out, err;
    if (!out.valid() || !err.valid()) return {.status = 1, .standardOutput = "", .standardError = "Could not create pipes: " + errnoText(errno)};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.writeEnd(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.writeEnd(), 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (options.currentDirectory) posix_spawn_file_actions_addchdir_np(&actions, options.currentDirectory->c_str());

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(options.executable.c_str()));
    for (const auto& argument : options.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child = 0;
    const int failure = ::posix_spawn(&child, options.executable.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure != 0)
        return {.status = 1, .standardOutput = "", .standardError = "Could not start " + options.executable + ": " + errnoText(failure)};

    out.closeWrite();
    err.closeWrite();
    std::string outBytes, errBytes;
    drainTogether(out, err, outBytes, errBytes);

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int exitStatus = 1;
    if (WIFEXITED(status))
        exitStatus = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        exitStatus = 128 + WTERMSIG(status);
    return {.status = exitStatus, .standardOutput = decodeUTF8Lossy(outBytes), .standardError = decodeUTF8Lossy(errBytes)};
}

std::string runCommand(const std::string& executable, const std::vector<std::string>& arguments) {
    ProcessRunResult result = runProcess({.executable = executable, .arguments = arguments});
    return result.standardOutput.empty() ? std::move(result.standardError) : std::move(result.standardOutput);
}

} // namespace kestro
