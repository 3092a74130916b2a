// The runtime under what a hostile client can send: how fast a request without a token is
// answered while eight bodies of 600,000 keys are read, what eight bodies of nothing but "[" do to
// its memory, how fast a real request from another address is answered while 3,000 slow
// connections come from one address, and what it holds once all of that is over.
//
//   kestro_hostile_load_bench [ROUNDS]

#include "Figures.h"
#include "platform/DescriptorLimit.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestro::testing;
using namespace std::chrono;

namespace {

constexpr const char* kToken = "hostile-load-bench-token";

int connectFrom(const char* from, uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{}, remote{};
    local.sin_family = remote.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    remote.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends the request from `from` and waits for the head of its answer; the time it took.
microseconds timedExchange(const char* from, uint16_t port, const std::string& bytes) {
    const auto started = steady_clock::now();
    const int fd = connectFrom(from, port);
    if (fd < 0) return seconds(99);
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string received;
    char chunk[65536];
    while (received.find("\r\n\r\n") == std::string::npos) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 120'000) <= 0) break;
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        received.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    return duration_cast<microseconds>(steady_clock::now() - started);
}

std::string post(const std::string& path, const std::string& body, bool withToken = true) {
    return "POST " + path + " HTTP/1.1\r\n" +
           (withToken ? "X-Kestro-Token: " + std::string(kToken) + "\r\n" : "") +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

double inMilliseconds(microseconds value) {
    return double(value.count()) / 1000.0;
}

microseconds percentile(std::vector<microseconds> values, double share) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(double(values.size()) * share))];
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    kestro::raiseDescriptorLimit();
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", kToken, "--no-open-pair-page"},
                       {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}, {"PATH", "/usr/bin:/bin"}});
    if (agent.waitForLines(9).size() != 9) return 1;
    const pid_t pid = agent.pid();
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const size_t descriptorsBefore = openDescriptorCount(pid);
    const long memoryBefore = residentKilobytes(pid);

    // 1. Requests without a token while eight bodies of many keys are read.
    std::string manyKeys = "{";
    for (int i = 0; i < 600'000; ++i)
        manyKeys += "\"k" + std::to_string(i) + "\":" + std::to_string(i % 10) + ",";
    manyKeys += R"("workingDirectory":"/"})";
    const std::string manyKeysRequest = post("/worktree", manyKeys);
    const std::string unauthorized = "GET /status HTTP/1.1\r\n\r\n";
    std::vector<microseconds> answers, bodies;
    for (int round = 0; round < rounds; ++round) {
        std::vector<std::future<microseconds>> reading;
        for (int i = 0; i < 8; ++i)
            reading.push_back(std::async(std::launch::async,
                                         [&] { return timedExchange("127.0.0.1", port, manyKeysRequest); }));
        // While the bodies are sent and read.
        for (int i = 0; i < 40; ++i) {
            answers.push_back(timedExchange("127.0.0.3", port, unauthorized));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (auto& body : reading)
            bodies.push_back(body.get());
    }
    char text[256];
    std::snprintf(text, sizeof text, "p50 %.1f ms, p90 %.1f ms, max %.1f ms (%zu answers)",
                  inMilliseconds(percentile(answers, 0.5)), inMilliseconds(percentile(answers, 0.9)),
                  inMilliseconds(percentile(answers, 1.0)), answers.size());
    reportFigure("401 while eight 7 MB bodies of 600,000 keys are read", text, "under 50 ms");
    std::snprintf(text, sizeof text, "median %.0f ms each, the slowest %.0f ms",
                  inMilliseconds(percentile(bodies, 0.5)), inMilliseconds(percentile(bodies, 1.0)));
    reportFigure("those eight bodies, sent, read and answered", text);

    // 2. Eight bodies of nothing but "[" at once.
    const long beforeNesting = residentKilobytes(pid);
    long peak = beforeNesting;
    const std::string nested = post("/run", std::string(8 * 1024 * 1024, '['));
    std::vector<std::future<microseconds>> nesting;
    for (int i = 0; i < 8; ++i)
        nesting.push_back(
            std::async(std::launch::async, [&] { return timedExchange("127.0.0.1", port, nested); }));
    while (std::any_of(nesting.begin(), nesting.end(), [](auto& f) {
        return f.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready;
    }))
        peak = std::max(peak, residentKilobytes(pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    std::snprintf(text, sizeof text, "%ld KiB before, %ld KiB at most, %ld KiB after", beforeNesting, peak,
                  residentKilobytes(pid));
    reportFigure("resident memory around eight 8 MiB bodies of \"[\"", text, "back within a few MB");

    // 3. A real request from another address while 3,000 slow connections come from one.
    std::vector<int> slow;
    for (int i = 0; i < 3000; ++i)
        if (const int fd = connectFrom("127.0.0.1", port); fd >= 0) {
            ::send(fd, "G", 1, MSG_NOSIGNAL);
            slow.push_back(fd);
        }
    const std::string authorized =
        "GET /status HTTP/1.1\r\nX-Kestro-Token: " + std::string(kToken) + "\r\n\r\n";
    std::vector<microseconds> statuses;
    for (int i = 0; i < 5 * rounds; ++i)
        statuses.push_back(timedExchange("127.0.0.2", port, authorized));
    for (const int fd : slow)
        ::close(fd);
    std::snprintf(text, sizeof text, "p50 %.1f ms, max %.1f ms (3,000 slow connections from 127.0.0.1)",
                  inMilliseconds(percentile(statuses, 0.5)), inMilliseconds(percentile(statuses, 1.0)));
    reportFigure("authorized status from 127.0.0.2 during a slow-connection flood", text, "under 1 s");

    // 4. What is left once it is over.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::snprintf(text, sizeof text, "%zu descriptors (%zu before), %zu children, %ld KiB (%ld KiB before)",
                  openDescriptorCount(pid), descriptorsBefore, childProcesses(pid).size(),
                  residentKilobytes(pid), memoryBefore);
    reportFigure("runtime after the hostile loads", text, "as before");
    return 0;
}
