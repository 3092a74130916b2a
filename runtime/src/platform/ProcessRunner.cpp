#include "platform/ProcessRunner.h"

#include "text/Text.h"

#include <array>
#include <cerrno>
#include <poll.h>
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
    ProcessOptions captured = options;
    captured.captureOutput = true;
    SpawnResult spawned = ChildProcess::spawn(captured);
    if (!spawned.child) return {.status = 1, .standardOutput = "", .standardError = spawned.error};
    ChildProcess& child = *spawned.child;
    std::string outBytes, errBytes;
    drainTogether(child.standardOutput().get(), child.standardError().get(), outBytes, errBytes);
    child.standardOutput().reset();
    child.standardError().reset();
    return {.status = child.wait(),
            .standardOutput = decodeUTF8Lossy(outBytes),
            .standardError = decodeUTF8Lossy(errBytes)};
}

std::string runCommand(const std::string& executable, const std::vector<std::string>& arguments) {
    ProcessRunResult result = runProcess({.executable = executable, .arguments = arguments});
    return result.standardOutput.empty() ? std::move(result.standardError) : std::move(result.standardOutput);
}

} // namespace kestro
