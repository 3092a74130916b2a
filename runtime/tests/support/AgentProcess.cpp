#include "support/AgentProcess.h"

#include <cstdlib>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace kestro::testing {

using namespace std::chrono;

namespace {

ChildProcess spawnWithEnvironment(std::string executable, std::vector<std::string> arguments,
                                  std::map<std::string, std::string> environment,
                                  std::optional<std::string> currentDirectory) {
    if (!environment.count("PATH")) environment["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    // A sanitizer build's settings reach the runtime too, so that its findings fail the test.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = std::getenv(name); value != nullptr && !environment.count(name))
            environment[name] = value;
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment)
        entries.push_back(name + "=" + value);
    SpawnResult spawned = ChildProcess::spawn({.executable = std::move(executable),
                                               .arguments = std::move(arguments),
                                               .currentDirectory = std::move(currentDirectory),
                                               .environment = std::move(entries)});
    if (!spawned.child) throw std::runtime_error("could not start kestro-agent: " + spawned.error);
    return std::move(*spawned.child);
}

ChildProcess startAgent(std::vector<std::string> arguments, std::map<std::string, std::string> environment,
                        std::optional<std::string> currentDirectory, std::vector<std::string> launcher) {
    std::string executable = kAgentBinary;
    if (!launcher.empty()) {
        executable = launcher.front();
        arguments.insert(arguments.begin(), kAgentBinary);
        arguments.insert(arguments.begin(), launcher.begin() + 1, launcher.end());
    }
    return spawnWithEnvironment(std::move(executable), std::move(arguments), std::move(environment),
                                std::move(currentDirectory));
}

// `script` takes one command line for its shell: every word is quoted.
std::string shellQuoted(const std::string& word) {
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ChildProcess startAgentOnTerminal(const std::vector<std::string>& arguments,
                                  std::map<std::string, std::string> environment) {
    std::string command = "exec " + shellQuoted(kAgentBinary);
    for (const auto& argument : arguments)
        command += " " + shellQuoted(argument);
    environment["SHELL"] = "/bin/sh";
    return spawnWithEnvironment("/usr/bin/script", {"--quiet", "--return", "--command", command, "/dev/null"},
                                std::move(environment), std::nullopt);
}

} // namespace

AgentProcess::AgentProcess(std::vector<std::string> arguments, std::map<std::string, std::string> environment,
                           std::optional<std::string> currentDirectory, std::vector<std::string> launcher)
    : m_child(startAgent(std::move(arguments), std::move(environment), std::move(currentDirectory),
                         std::move(launcher))) {}

AgentProcess::AgentProcess(OnTerminal, std::vector<std::string> arguments,
                           std::map<std::string, std::string> environment)
    : m_child(startAgentOnTerminal(arguments, std::move(environment))) {}

AgentProcess::AgentProcess(OtherProgram program, std::vector<std::string> arguments,
                           std::map<std::string, std::string> environment,
                           std::optional<std::string> currentDirectory)
    : m_child(spawnWithEnvironment(std::move(program.path), std::move(arguments), std::move(environment),
                                   std::move(currentDirectory))) {}

AgentProcess::~AgentProcess() {
    m_child.terminate();
    m_child.wait();
}

void AgentProcess::pump(milliseconds timeout) {
    pollfd fds[2] = {{m_child.standardOutput().get(), POLLIN, 0}, {m_child.standardError().get(), POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return;
    char chunk[4096];
    if (fds[0].revents != 0) {
        const ssize_t got = ::read(fds[0].fd, chunk, sizeof chunk);
        if (got > 0) m_outBuffer.append(chunk, static_cast<size_t>(got));
        size_t newline;
        while ((newline = m_outBuffer.find('\n')) != std::string::npos) {
            m_lines.push_back(m_outBuffer.substr(0, newline));
            m_outBuffer.erase(0, newline + 1);
        }
    }
    if (fds[1].revents != 0) {
        const ssize_t got = ::read(fds[1].fd, chunk, sizeof chunk);
        if (got > 0) m_errBuffer.append(chunk, static_cast<size_t>(got));
    }
}

std::vector<std::string> AgentProcess::waitForLines(size_t count, milliseconds timeout) {
    const auto deadline = steady_clock::now() + timeout;
    while (m_lines.size() < count && steady_clock::now() < deadline) {
        pump(milliseconds(50));
        if (m_child.tryWait()) {
            pump(milliseconds(0));
            break;
        }
    }
    return m_lines;
}

std::optional<int> AgentProcess::waitForExit(milliseconds timeout) {
    const auto deadline = steady_clock::now() + timeout;
    while (!m_child.tryWait() && steady_clock::now() < deadline)
        pump(milliseconds(20));
    return m_child.tryWait();
}

std::string AgentProcess::standardError() {
    pump(milliseconds(0));
    return m_errBuffer;
}

} // namespace kestro::testing
