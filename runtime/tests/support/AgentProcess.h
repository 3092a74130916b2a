#pragma once
// Starts the built kestro-agent as a child with a given environment and reads its banner.

#include "platform/ChildProcess.h"

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestro::testing {

// The runtime built by this repository.
inline const std::string kAgentBinary = KESTRO_AGENT_BINARY;

// Asks for the runtime on a pseudo-terminal of its own: `script` (util-linux) runs it and copies
// what it prints, with "\r\n" line ends, to the pipe that waitForLines reads. Stopping `script`
// ends the runtime.
struct OnTerminal {};
inline constexpr OnTerminal kOnTerminal{};

// Asks for another copy of the runtime, such as one unpacked from its package.
struct OtherProgram {
    std::string path;
};

class AgentProcess {
  public:
    // `environment` replaces the inherited one entirely (PATH is added when missing). A
    // `launcher` (such as {"/usr/bin/prlimit", "--nofile=64"}) runs the runtime as its command.
    AgentProcess(std::vector<std::string> arguments, std::map<std::string, std::string> environment,
                 std::optional<std::string> currentDirectory = std::nullopt,
                 std::vector<std::string> launcher = {});
    AgentProcess(OnTerminal, std::vector<std::string> arguments,
                 std::map<std::string, std::string> environment);
    AgentProcess(OtherProgram program, std::vector<std::string> arguments,
                 std::map<std::string, std::string> environment,
                 std::optional<std::string> currentDirectory = std::nullopt);
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    // Banner lines read so far, waiting up to `timeout` for at least `count` of them.
    std::vector<std::string> waitForLines(size_t count,
                                          std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits for the process to exit; the exit status, or absent on time-out.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string standardError();
    pid_t pid() const { return m_child.pid(); }

  private:
    void pump(std::chrono::milliseconds timeout);

    ChildProcess m_child;
    std::string m_outBuffer;
    std::string m_errBuffer;
    std::vector<std::string> m_lines;
};

} // namespace kestro::testing
