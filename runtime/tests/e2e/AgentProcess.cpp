#include "e2e/AgentProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kestro::e2e {

using namespace std::chrono;

uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) throw std::runtime_error("bind");
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

TemporaryDirectory::TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestro-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    m_path = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

AgentProcess::AgentProcess(std::vector<std::string> arguments, std::map<std::string, std::string> environment,
                           std::optional<std::string> currentDirectory) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    if (!environment.count("PATH")) environment["PATH"] = "/usr/local/bin:/usr/bin:/bin";
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : environment) envStrings.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);
    arguments.insert(arguments.begin(), KESTRO_AGENT_BINARY);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (currentDirectory) posix_spawn_file_actions_addchdir_np(&actions, currentDirectory->c_str());
    const int failed = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    m_stdout = out[0];
    m_stderr = err[0];
    if (failed != 0) throw std::runtime_error("could not start kestro-agent");
}

AgentProcess::~AgentProcess() {
    if (m_pid > 0 && !m_exitStatus) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    ::close(m_stdout);
    ::close(m_stderr);
}

void AgentProcess::pump(milliseconds timeout) {
    pollfd fds[2] = {{m_stdout, POLLIN, 0}, {m_stderr, POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return;
    char chunk[4096];
    if (fds[0].revents != 0) {
        const ssize_t got = ::read(m_stdout, chunk, sizeof chunk);
        if (got > 0) m_outBuffer.append(chunk, static_cast<size_t>(got));
        size_t newline;
        while ((newline = m_outBuffer.find('\n')) != std::string::npos) {
            m_lines.push_back(m_outBuffer.substr(0, newline));
            m_outBuffer.erase(0, newline + 1);
        }
    }
    if (fds[1].revents != 0) {
        const ssize_t got = ::read(m_stderr, chunk, sizeof chunk);
        if (got > 0) m_errBuffer.append(chunk, static_cast<size_t>(got));
    }
}

std::vector<std::string> AgentProcess::waitForLines(size_t count, milliseconds timeout) {
    const auto deadline = steady_clock::now() + timeout;
    while (m_lines.size() < count && steady_clock::now() < deadline) {
        pump(milliseconds(50));
        if (!m_exitStatus) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                pump(milliseconds(0));
                break;
            }
        }
    }
    return m_lines;
}

std::optional<int> AgentProcess::waitForExit(milliseconds timeout) {
    const auto deadline = steady_clock::now() + timeout;
    while (!m_exitStatus && steady_clock::now() < deadline) {
        pump(milliseconds(20));
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_exitStatus;
}

std::string AgentProcess::standardError() {
    pump(milliseconds(0));
    return m_errBuffer;
}

int connectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

RawExchange exchange(uint16_t port, const std::vector<std::string>& pieces, milliseconds pauseBetween,
                     milliseconds readTimeout) {
    const int fd = connectLoopback(port);
    if (fd < 0) throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0 && pauseBetween.count() > 0) std::this_thread::sleep_for(pauseBetween);
        ::send(fd, pieces[i].data(), pieces[i].size(), MSG_NOSIGNAL);
    }
    RawExchange result{};
    auto lastByte = steady_clock::now();
    const auto deadline = steady_clock::now() + readTimeout;
    char chunk[65536];
    while (steady_clock::now() < deadline) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 100) <= 0) continue;
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        result.received.append(chunk, static_cast<size_t>(got));
        lastByte = steady_clock::now();
    }
    result.closedAfter = duration_cast<milliseconds>(steady_clock::now() - lastByte);
    ::close(fd);
    return result;
}

HTTPAnswer parseAnswer(const std::string& raw) {
    HTTPAnswer answer;
    const size_t headEnd = raw.find("\r\n\r\n");
    if (headEnd == std::string::npos) return answer;
    const std::string head = raw.substr(0, headEnd);
    answer.body = raw.substr(headEnd + 4);
    size_t lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        size_t lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string::npos) lineEnd = head.size();
        const std::string line = head.substr(lineStart, lineEnd - lineStart);
        if (first) {
            answer.status = std::atoi(line.substr(9, 3).c_str());
            first = false;
        } else if (const size_t colon = line.find(':'); colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            answer.headers[name] = line.substr(colon + 2);
        }
        lineStart = lineEnd + 2;
    }
    return answer;
}

HTTPAnswer request(uint16_t port, const std::string& method, const std::string& path,
                   const std::map<std::string, std::string>& headers, const std::string& body) {
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
    if (!body.empty()) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    text += "\r\n" + body;
    return parseAnswer(exchange(port, {text}).received);
}

RunStream parseRunStream(const HTTPAnswer& answer) {
    RunStream stream;
    stream.status = answer.status;
    size_t start = 0;
    while (start < answer.body.size()) {
        size_t end = answer.body.find("\n\n", start);
        if (end == std::string::npos) end = answer.body.size();
        const std::string frame = answer.body.substr(start, end - start);
        if (frame == "data: [DONE]")
            stream.done = true;
        else if (frame.starts_with("data: "))
            stream.events.push_back(frame.substr(6));
        start = end + 2;
    }
    return stream;
}

RunStream run(uint16_t port, const std::string& token, const std::string& body) {
    return parseRunStream(request(port, "POST", "/run", {{"X-Kestro-Token", token}}, body));
}

size_t openDescriptorCount(pid_t pid) {
    size_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

std::vector<pid_t> childProcesses(pid_t pid) {
    std::vector<pid_t> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // pid (comm) state ppid ...: the command may hold spaces, so read after the last ')'.
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == pid) children.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return children;
}

bool eventually(const std::function<bool()>& condition, milliseconds timeout) {
    const auto deadline = steady_clock::now() + timeout;
    while (steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return condition();
}

} // namespace kestro::e2e
