#pragma once
// A model server on 127.0.0.1 that answers the Codex CLI's POST /v1/responses with a
// server-sent-event stream (or a 400 error), and records every request body.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kestro::testing {

struct ModelReply {
    std::string text = "Hello from the fake model server today";
    int64_t inputTokens = 11;
    int64_t cachedTokens = 3;
    int64_t outputTokens = 7;
    std::optional<std::string> errorMessage;    // answer 400 with this message instead
    std::map<std::string, std::string> headers; // extra response headers
    bool holds = false; // takes the request and answers nothing until the server stops
};

class FakeModelServer {
  public:
    explicit FakeModelServer(ModelReply reply = ModelReply());
    ~FakeModelServer();

    uint16_t port() const { return m_port; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/v1"; }
    std::vector<std::string> requestBodies();

    // Writes $home/.codex/config.toml pointing the Codex CLI at this server.
    void configureCodexHome(const std::string& home, const std::string& extraConfig = "") const;

  private:
    void serve();
    void answer(int connection);

    ModelReply m_reply;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    std::vector<std::string> m_bodies;
    std::thread m_thread;
};

} // namespace kestro::testing
