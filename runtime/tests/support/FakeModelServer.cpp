#include "support/FakeModelServer.h"

#include <arpa/inet.h>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kestro::testing {

namespace {

using json = nlohmann::json;

bool sendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::string sseEvent(const json& data) {
    return "event: " + data["type"].get<std::string>() + "\ndata: " + data.dump() + "\n\n";
}

} // namespace

FakeModelServer::FakeModelServer(ModelReply reply) : m_reply(std::move(reply)) {
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 64) != 0)
        throw std::runtime_error("fake model server cannot listen");
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
}

FakeModelServer::~FakeModelServer() {
    m_stopping = true;
    m_thread.join();
    ::close(m_listener);
}

std::vector<std::string> FakeModelServer::requestBodies() {
    std::lock_guard lock(m_mutex);
    return m_bodies;
}

void FakeModelServer::configureCodexHome(const std::string& home, const std::string& extraConfig) const {
    std::filesystem::create_directories(home + "/.codex");
    std::ofstream(home + "/.codex/config.toml")
        << "model = \"fake-model\"\nmodel_provider = \"mock\"\n"
        << extraConfig << "\n[model_providers.mock]\nname = \"mock\"\nbase_url = \"" << baseURL()
        << "\"\nwire_api = \"responses\"\n";
}

void FakeModelServer::serve() {
    while (!m_stopping) {
        pollfd pfd{m_listener, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0) continue;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        // Requests are small and quick; one at a time keeps the fake simple.
        answer(connection);
        ::close(connection);
    }
}

void FakeModelServer::answer(int connection) {
    std::string buffer;
    char chunk[65536];
    size_t headEnd = std::string::npos;
    size_t bodyLength = 0;
    while (true) {
        pollfd pfd{connection, POLLIN, 0};
        if (::poll(&pfd, 1, 10'000) <= 0) return;
        const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
        if (got <= 0) return;
        buffer.append(chunk, static_cast<size_t>(got));
        if (headEnd == std::string::npos) {
            headEnd = buffer.find("\r\n\r\n");
            if (headEnd == std::string::npos) continue;
            std::string head = buffer.substr(0, headEnd);
            for (auto& c : head)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (const size_t at = head.find("content-length:"); at != std::string::npos)
                bodyLength = std::stoul(head.substr(at + 15));
        }
        if (buffer.size() >= headEnd + 4 + bodyLength) break;
    }
    {
        std::lock_guard lock(m_mutex);
        m_bodies.push_back(buffer.substr(headEnd + 4, bodyLength));
    }
    if (m_reply.holds) {
        // A model still thinking: the connection stays open and silent.
        while (!m_stopping) {
            pollfd pfd{connection, POLLIN, 0};
            if (::poll(&pfd, 1, 50) > 0 && ::recv(connection, chunk, sizeof chunk, 0) <= 0) return;
        }
        return;
    }
    if (m_reply.errorMessage) {
        const std::string body =
            json{{"error",
                  {{"message", *m_reply.errorMessage}, {"type", "invalid_request_error"}, {"code", nullptr}}}}
                .dump();
        sendAll(connection, "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        return;
    }
    std::string events;
    events += sseEvent({{"type", "response.created"}, {"response", {{"id", "resp_1"}}}});
    events += sseEvent({{"type", "response.output_item.done"},
                        {"item",
                         {{"type", "message"},
                          {"role", "assistant"},
                          {"id", "msg_1"},
                          {"content", json::array({{{"type", "output_text"}, {"text", m_reply.text}}})}}}});
    events += sseEvent({{"type", "response.completed"},
                        {"response",
                         {{"id", "resp_1"},
                          {"usage",
                           {{"input_tokens", m_reply.inputTokens},
                            {"input_tokens_details", {{"cached_tokens", m_reply.cachedTokens}}},
                            {"output_tokens", m_reply.outputTokens},
                            {"output_tokens_details", {{"reasoning_tokens", 0}}},
                            {"total_tokens", m_reply.inputTokens + m_reply.outputTokens}}}}}});
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nContent-Length: " +
                       std::to_string(events.size()) + "\r\nConnection: close\r\n";
    for (const auto& [name, value] : m_reply.headers)
        head += name + ": " + value + "\r\n";
    sendAll(connection, head + "\r\n" + events);
}

} // namespace kestro::testing
