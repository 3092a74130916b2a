#pragma once
// Starts the built kestro-agent with a throwaway HOME and talks to it over loopback.

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kestro::e2e {

// A free TCP port on this machine at the time of the call.
uint16_t freePort();

// A fresh directory under the system temporary directory, removed on destruction.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

class AgentProcess {
public:
    // `environment` replaces the inherited one entirely (PATH is added when missing).
    AgentProcess(std::vector<std::string> arguments, std::map<std::string, std::string> environment,
                 std::optional<std::string> currentDirectory = std::nullopt);
    ~AgentProcess();

    // Banner lines read so far, waiting up to `timeout` for at least `count` of them.
    std::vector<std::string> waitForLines(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits for the process to exit; the exit status, or absent on time-out.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string standardError();
    pid_t pid() const { return m_pid; }

private:
    void pump(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_stderr = -1;
    std::string m_outBuffer;
    std::string m_errBuffer;
    std::vector<std::string> m_lines;
    std::optional<int> m_exitStatus;
};

// A connected loopback socket to `port`, or -1.
int connectLoopback(uint16_t port);

struct RawExchange {
    std::string received;                  // everything the server sent before closing
    std::chrono::milliseconds closedAfter; // time from the last byte written by the server to its close
};

// Sends the given pieces (with a pause between them), then reads until the server closes.
RawExchange exchange(uint16_t port, const std::vector<std::string>& pieces,
                     std::chrono::milliseconds pauseBetween = std::chrono::milliseconds(0),
                     std::chrono::milliseconds readTimeout = std::chrono::seconds(30));

struct HTTPAnswer {
    int status = 0;
    std::map<std::string, std::string> headers; // lower-case names
    std::string body;
};
HTTPAnswer parseAnswer(const std::string& raw);

// One request with the given method, path, headers and body.
HTTPAnswer request(uint16_t port, const std::string& method, const std::string& path,
                   const std::map<std::string, std::string>& headers = {}, const std::string& body = "");

// The events of a run stream ("data: " lines, JSON decoded) and whether it ended with [DONE].
struct RunStream {
    int status = 0;
    std::vector<std::string> events; // JSON texts, in order
    bool done = false;
};
RunStream parseRunStream(const HTTPAnswer& answer);
RunStream run(uint16_t port, const std::string& token, const std::string& body);

// Descriptors the process holds open, and its living children (zombies included).
size_t openDescriptorCount(pid_t pid);
std::vector<pid_t> childProcesses(pid_t pid);

// Polls `condition` until it holds or the deadline passes; the last value.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace kestro::e2e
