// Streaming figures of the runtime:
//  1. latency from the (fake) Codex writing an event line to the client reading the matching
//     server-sent event, p50 and p99 over 1,000 events (no pacing pauses are involved: the events
//     are "thread.started", which carry no chunks);
//  2. the runtime's resident memory while 50 runs stream at once.
//
//   kestro_streaming_bench

#include "Figures.h"
#include "platform/ChildProcess.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <future>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestro::testing;

namespace {

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
}

// Streams one run and returns each event's delay in microseconds.
std::vector<double> streamLatencies(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
    const std::string body = R"({"prompt":"bench","resumeExistingSession":false})";
    const std::string text =
        "POST /run HTTP/1.1\r\nX-Kestro-Token: bench\r\nContent-Length: " + std::to_string(body.size()) +
        "\r\n\r\n" + body;
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    std::vector<double> latencies;
    std::string pending;
    char chunk[65536];
    while (true) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        const long long now = monotonicNanoseconds();
        pending.append(chunk, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find("\n\n")) != std::string::npos) {
            const std::string frame = pending.substr(0, end);
            pending.erase(0, end + 2);
            const size_t data = frame.find("data: {");
            if (data == std::string::npos) continue;
            const auto event = nlohmann::json::parse(frame.substr(data + 6));
            if (event["type"] == "thread.started")
                latencies.push_back(
                    static_cast<double>(now - std::stoll(event["threadID"].get<std::string>())) / 1000.0);
        }
    }
    ::close(fd);
    return latencies;
}

std::string percentiles(std::vector<double> latencies) {
    std::sort(latencies.begin(), latencies.end());
    if (latencies.empty()) return "no events";
    const auto at = [&](double p) {
        return latencies[static_cast<size_t>(p * double(latencies.size() - 1))];
    };
    char text[160];
    std::snprintf(text, sizeof text, "p50 %.0f us, p90 %.0f us, p99 %.0f us, max %.0f us over %zu events",
                  at(0.50), at(0.90), at(0.99), latencies.back(), latencies.size());
    return text;
}

// The floor of this machine: the same fake Codex read straight from its pipe, one hop instead of two.
std::vector<double> pipeLatencies() {
    ::setenv("BENCH_EVENTS", "1000", 1);
    ::setenv("BENCH_INTERVAL_US", "1000", 1);
    auto spawned = kestro::ChildProcess::spawn({.executable = KESTRO_FAKE_CODEX, .arguments = {"--json"}});
    if (!spawned.child) return {};
    kestro::ChildProcess& child = *spawned.child;
    std::vector<double> latencies;
    std::string pending;
    char chunk[65536];
    ssize_t got;
    while ((got = ::read(child.standardOutput().get(), chunk, sizeof chunk)) > 0) {
        const long long now = monotonicNanoseconds();
        pending.append(chunk, static_cast<size_t>(got));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            const auto event = nlohmann::json::parse(line);
            if (event["type"] == "thread.started")
                latencies.push_back(
                    static_cast<double>(now - std::stoll(event["thread_id"].get<std::string>())) / 1000.0);
        }
    }
    child.wait();
    return latencies;
}

} // namespace

int main() {
    TemporaryFolder home;
    const uint16_t port = freePort();
    const std::map<std::string, std::string> environment{
        {"HOME", home.path()},     {"XDG_RUNTIME_DIR", home.path()}, {"KESTRO_CODEX_PATH", KESTRO_FAKE_CODEX},
        {"PATH", "/usr/bin:/bin"}, {"BENCH_EVENTS", "1000"},         {"BENCH_INTERVAL_US", "1000"}};
    AgentProcess agent({"--port", std::to_string(port), "--token", "bench", "--no-open-pair-page"},
                       environment);
    if (agent.waitForLines(9).size() != 9) {
        std::fprintf(stderr, "the runtime did not start: %s\n", agent.standardError().c_str());
        return 1;
    }
    streamLatencies(port); // warm-up
    const std::vector<double> latencies = streamLatencies(port);
    if (latencies.size() < 1000) {
        std::fprintf(stderr, "only %zu events arrived\n", latencies.size());
        return 1;
    }
    std::printf("event latency, Codex line to phone event: %s\n", percentiles(latencies).c_str());
    reportFigure("streaming delay, Codex line to phone event", percentiles(latencies).c_str(),
                 "p99 under 1 ms");
    std::printf("machine floor, Codex line read from its pipe: %s\n", percentiles(pipeLatencies()).c_str());

    // 50 runs at once, each streaming 400 events over about 2 s.
    AgentProcess busy({"--port", std::to_string(freePort()), "--token", "bench", "--no-open-pair-page"},
                      {{"HOME", home.path()},
                       {"XDG_RUNTIME_DIR", home.path()},
                       {"KESTRO_CODEX_PATH", KESTRO_FAKE_CODEX},
                       {"PATH", "/usr/bin:/bin"},
                       {"BENCH_EVENTS", "400"},
                       {"BENCH_INTERVAL_US", "5000"}});
    const auto lines = busy.waitForLines(9);
    const uint16_t busyPort = static_cast<uint16_t>(std::stoi(lines.at(0).substr(lines[0].rfind(':') + 1)));
    const long idle = residentKilobytes(busy.pid());
    std::vector<std::future<std::vector<double>>> runs;
    for (int i = 0; i < 50; ++i)
        runs.push_back(std::async(std::launch::async, [busyPort] { return streamLatencies(busyPort); }));
    long peak = idle;
    size_t received = 0;
    for (auto& run : runs) {
        while (run.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
            peak = std::max(peak, residentKilobytes(busy.pid()));
        received += run.get().size();
    }
    std::printf("resident memory: %ld KiB idle, %ld KiB peak while 50 runs streamed (%zu events delivered)\n",
                idle, peak, received);
    char value[96];
    std::snprintf(value, sizeof value, "%ld KiB idle, %ld KiB peak", idle, peak);
    reportFigure("runtime resident memory, idle and with 50 runs streaming", value);
    return 0;
}
