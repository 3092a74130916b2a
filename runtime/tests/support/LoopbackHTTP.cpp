#include "support/LoopbackHTTP.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace kestro::testing {

using namespace std::chrono;

uint16_t freePort() {
    // Below the range the system draws ports for outgoing connections from (32768 and up), so
    // that the many connections of load tests running beside this one cannot take it before the
    // runtime binds it; checked free as the runtime binds, on every interface.
    thread_local std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> below(20000, 32000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<uint16_t>(below(random));
        const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int no = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free) return port;
    }
    throw std::runtime_error("no free port");
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

std::string readAnswer(int fd) {
    std::string received;
    char chunk[65536];
    while (true) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) return received;
        received.append(chunk, static_cast<size_t>(got));
        const size_t headEnd = received.find("\r\n\r\n");
        if (headEnd == std::string::npos) continue;
        const HTTPAnswer head = parseAnswer(received.substr(0, headEnd + 4));
        const auto length = head.headers.find("content-length");
        if (length != head.headers.end() && received.size() - headEnd - 4 >= std::stoul(length->second))
            return received;
    }
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
            for (auto& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            answer.headers[name] = line.substr(colon + 2);
        }
        lineStart = lineEnd + 2;
    }
    return answer;
}

HTTPAnswer request(uint16_t port, const std::string& method, const std::string& path,
                   const std::map<std::string, std::string>& headers, const std::string& body) {
    std::string text = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& [name, value] : headers)
        text += name + ": " + value + "\r\n";
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

bool eventually(const std::function<bool()>& condition, milliseconds timeout) {
    const auto deadline = steady_clock::now() + timeout;
    while (steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return condition();
}

} // namespace kestro::testing
