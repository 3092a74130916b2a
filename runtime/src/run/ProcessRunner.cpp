#include "run/ProcessRunner.h"

#include "text/Text.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestro {

namespace {

void drainTogether(int out, int err, std::string& outBytes, std::string& errBytes) {
    std::array<char, 65536> chunk;
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
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
    const SpawnResult spawned = spawnWithPipes(options);
    if (!spawned.child) return {.status = 1, .standardOutput = "", .standardError = spawned.error};
    std::string outBytes, errBytes;
    drainTogether(spawned.child->standardOutput, spawned.child->standardError, outBytes, errBytes);
    ::close(spawned.child->standardOutput);
    ::close(spawned.child->standardError);
    int status = 0;
    while (::waitpid(spawned.child->pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {.status = exitStatusOf(status),
            .standardOutput = decodeUTF8Lossy(outBytes),
            .standardError = decodeUTF8Lossy(errBytes)};
}

std::string runCommand(const std::string& executable, const std::vector<std::string>& arguments) {
    ProcessRunResult result = runProcess({.executable = executable, .arguments = arguments});
    return result.standardOutput.empty() ? std::move(result.standardError) : std::move(result.standardOutput);
}

} // namespace kestro
