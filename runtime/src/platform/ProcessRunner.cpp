#include "platform/ProcessRunner.h"

#include "text/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

namespace kestro {

namespace {

using Clock = std::chrono::steady_clock;

// False when the deadline came before both streams ended.
bool drainTogether(int out, int err, std::string& outBytes, std::string& errBytes, RunLimits limits) {
    const Clock::time_point deadline = Clock::now() + limits.time;
    std::array<char, 65536> chunk;
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* sinks[2] = {&outBytes, &errBytes};
    int open = 2;
    while (open > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const int ready = ::poll(fds, 2, static_cast<int>(std::min<long long>(left, 60'000)));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return true;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = ::read(fds[i].fd, chunk.data(), chunk.size());
            if (got > 0) {
                const size_t room = limits.outputBytes - std::min(limits.outputBytes, sinks[i]->size());
                sinks[i]->append(chunk.data(), std::min(room, static_cast<size_t>(got)));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

// The program as a person would name it: what `env` runs, else the executable's file name.
std::string programName(const ProcessOptions& options) {
    const std::string name = std::filesystem::path(options.executable).filename().string();
    return name == "env" && !options.arguments.empty() ? options.arguments.front() : name;
}

} // namespace

ProcessRunResult runProcess(const ProcessOptions& options, RunLimits limits) {
    ProcessOptions captured = options;
    captured.captureOutput = true;
    captured.ownProcessGroup = true;
    SpawnResult spawned = ChildProcess::spawn(captured);
    if (!spawned.child) return {.status = 1, .standardOutput = "", .standardError = spawned.error};
    ChildProcess& child = *spawned.child;
    std::string outBytes, errBytes;
    const bool ended =
        drainTogether(child.standardOutput().get(), child.standardError().get(), outBytes, errBytes, limits);
    if (!ended) child.signalGroup(SIGKILL);
    child.standardOutput().reset();
    child.standardError().reset();
    const int status = child.wait();
    if (!ended) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limits.time).count();
        return {.status = 1,
                .standardOutput = "",
                .standardError = programName(options) + " did not finish within " + std::to_string(seconds) +
                                 " seconds and was stopped."};
    }
    return {.status = status,
            .standardOutput = decodeUTF8Lossy(outBytes),
            .standardError = decodeUTF8Lossy(errBytes)};
}

std::string runCommand(const std::string& executable, const std::vector<std::string>& arguments) {
    ProcessRunResult result = runProcess({.executable = executable, .arguments = arguments});
    return result.standardOutput.empty() ? std::move(result.standardError) : std::move(result.standardOutput);
}

} // namespace kestro
