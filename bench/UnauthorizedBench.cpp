// How many requests without a token the runtime answers with 401 per second, while every
// answered connection lingers its half second before closing (the clients do not wait for
// the close, so lingering connections pile up as they would with many phones).
//
//   kestro_unauthorized_bench [SECONDS]

#include "Figures.h"
#include "platform/DescriptorLimit.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestro::testing;
using Clock = std::chrono::steady_clock;

namespace {

// One request; true when a 401 head came back.
bool unauthorizedRequest(uint16_t port) {
    static const std::string text = "GET /status HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const int fd = connectLoopback(port);
    if (fd < 0) return false;
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    char head[256];
    size_t got = 0;
    while (got < 12) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 5000) <= 0) break;
        const ssize_t n = ::recv(fd, head + got, sizeof head - got, 0);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    return got >= 12 && std::string(head, 12) == "HTTP/1.1 401";
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    kestro::raiseDescriptorLimit();
    TemporaryFolder home;
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", "bench", "--no-open-pair-page"},
                       {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}, {"PATH", "/usr/bin:/bin"}});
    if (agent.waitForLines(9).size() != 9) return 1;
    std::atomic<long> answered{0}, failed{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> clients;
    for (int i = 0; i < 8; ++i)
        clients.emplace_back([&] {
            while (!stop)
                (unauthorizedRequest(port) ? answered : failed)++;
        });
    const auto started = Clock::now();
    size_t lingering = 0;
    while (Clock::now() - started < std::chrono::seconds(seconds)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        lingering = std::max(lingering, openDescriptorCount(agent.pid()));
    }
    stop = true;
    for (auto& client : clients)
        client.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    const double rate = double(answered) / elapsed;
    std::printf(
        "401 answers: %.0f per second over %.1f s (%ld answered, %ld failed), up to %zu descriptors open "
        "in the runtime while connections linger\n",
        rate, elapsed, answered.load(), failed.load(), lingering);
    char value[96];
    std::snprintf(value, sizeof value, "%.0f per second (%zu descriptors at most)", rate, lingering);
    reportFigure("401 answers with the 0.5 s linger held, 8 clients", value);
    return failed == 0 ? 0 : 1;
}
