// Phones polling a runtime whose parts are slow: eight clients each send POST /status once a
// second and one sends POST /thread-history once a second, for 30 seconds, (a) over the busy Codex
// home with a working X display, (b) with that X server stopped (SIGSTOP), (c) in a repository
// whose git status takes 2 s (a core.fsmonitor hook that sleeps). Each answer is timed to its last
// byte; p50 and p99 of each kind, and the p50 of the first and the last third of the time, which
// tell whether answers slow down as the polls go on.
//
//   kestro_polling_bench [SECONDS]

#include "BusyCodexHome.h"
#include "Figures.h"
#include "support/AgentProcess.h"
#include "support/DesktopSession.h"
#include "support/LoopbackHTTP.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kestro::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kToken = "polling-bench-token";
constexpr int kStatusClients = 8;

struct Sample {
    double sentAt = 0; // seconds after the polls began
    double milliseconds = 0;
};

// One POST, timed to the answer's last byte; a failure or no answer within two minutes counts as
// two minutes.
double timedPost(uint16_t port, const std::string& path, const std::string& body) {
    const std::string text = "POST " + path + " HTTP/1.1\r\nX-Kestro-Token: " + kToken +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    const auto started = Clock::now();
    const auto deadline = started + std::chrono::minutes(2);
    const int fd = connectLoopback(port);
    if (fd < 0) return 120'000;
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    std::string received;
    char chunk[65536];
    bool whole = false;
    while (!whole && Clock::now() < deadline) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) continue;
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        received.append(chunk, static_cast<size_t>(got));
        const size_t headEnd = received.find("\r\n\r\n");
        if (headEnd == std::string::npos) continue;
        const HTTPAnswer head = parseAnswer(received.substr(0, headEnd + 4));
        const auto length = head.headers.find("content-length");
        whole = length != head.headers.end() && received.size() - headEnd - 4 >= std::stoul(length->second);
    }
    ::close(fd);
    if (!whole || parseAnswer(received).status != 200) return 120'000;
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

// Sends `body` to `path` once a second, starting `offset` into each second, until `seconds` have
// passed; a poll whose answer has not come by its second is sent when it comes, as a phone would.
void pollEachSecond(uint16_t port, const std::string& path, const std::string& body, Clock::time_point begin,
                    int seconds, std::chrono::milliseconds offset, std::mutex& mutex,
                    std::vector<Sample>& samples) {
    for (int tick = 0; tick < seconds; ++tick) {
        const auto due = begin + std::chrono::seconds(tick) + offset;
        if (due >= begin + std::chrono::seconds(seconds)) break;
        std::this_thread::sleep_until(due);
        const double sentAt = std::chrono::duration<double>(Clock::now() - begin).count();
        if (sentAt >= seconds) break;
        const double milliseconds = timedPost(port, path, body);
        const std::lock_guard lock(mutex);
        samples.push_back({sentAt, milliseconds});
    }
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(double(values.size()) * share))];
}

std::string shown(const std::vector<double>& values, double share) {
    if (values.empty()) return "none answered";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", percentile(values, share));
    return text;
}

// "p50 A ms, p99 B ms (N answers); first third p50 C ms, last third D ms"
std::string summary(const std::vector<Sample>& samples, int seconds) {
    std::vector<double> all, first, last;
    for (const Sample& sample : samples) {
        all.push_back(sample.milliseconds);
        if (sample.sentAt < seconds / 3.0) first.push_back(sample.milliseconds);
        if (sample.sentAt >= seconds * 2 / 3.0) last.push_back(sample.milliseconds);
    }
    return "p50 " + shown(all, 0.5) + ", p99 " + shown(all, 0.99) + " (" + std::to_string(all.size()) +
           " answers); first third p50 " + shown(first, 0.5) + ", last third " + shown(last, 0.5);
}

enum class Scenario { usual, stoppedDisplay, slowRepository };

bool runScenario(Scenario scenario, int seconds) {
    TemporaryFolder home;
    const std::string repo = home.path() + "/code/project0";
    makeBusyCodexHome(home.path(), repo);
    if (scenario == Scenario::slowRepository) {
        const std::string hook = home.write("fsmonitor-hook", "#!/bin/sh\nsleep 2\n");
        ::chmod(hook.c_str(), 0755);
        kestro::runProcess(
            {.executable = "/usr/bin/git", .arguments = {"-C", repo, "config", "core.fsmonitor", hook}});
    }
    DesktopSession desktop({.width = 1280, .height = 800, .windowManager = false});
    if (desktop.display().empty()) return false;
    const uint16_t port = freePort();
    AgentProcess agent(
        {"--port", std::to_string(port), "--token", kToken, "--no-open-pair-page", "--working-dir", repo},
        {{"HOME", home.path()},
         {"XDG_RUNTIME_DIR", home.path()},
         {"PATH", "/usr/bin:/bin"},
         {"DISPLAY", desktop.display()}});
    if (agent.waitForLines(9, std::chrono::seconds(60)).size() != 9) return false;
    if (scenario == Scenario::stoppedDisplay) ::kill(desktop.serverPid(), SIGSTOP);

    std::mutex mutex;
    std::vector<Sample> statuses, histories;
    const std::string statusBody = R"({"workingDirectory":")" + repo + "\"}";
    const auto begin = Clock::now() + std::chrono::milliseconds(100);
    std::vector<std::thread> clients;
    for (int client = 0; client < kStatusClients; ++client)
        clients.emplace_back([&, client] {
            pollEachSecond(port, "/status", statusBody, begin, seconds,
                           std::chrono::milliseconds(125 * client), mutex, statuses);
        });
    clients.emplace_back([&] {
        pollEachSecond(port, "/thread-history", R"({"threadID":"t0"})", begin, seconds,
                       std::chrono::milliseconds(60), mutex, histories);
    });
    for (auto& client : clients)
        client.join();
    ::kill(desktop.serverPid(), SIGCONT);

    const char* names[] = {"(a) usual fixture", "(b) X server stopped", "(c) git status taking 2 s"};
    const char* name = names[static_cast<int>(scenario)];
    std::printf("%s: status %s; thread-history %s\n", name, summary(statuses, seconds).c_str(),
                summary(histories, seconds).c_str());
    const std::string statusWhat = std::string("8 phones polling POST /status each second, ") + name;
    const std::string historyWhat = std::string("POST /thread-history each second meanwhile, ") + name;
    const bool usual = scenario == Scenario::usual;
    reportFigure(statusWhat.c_str(), summary(statuses, seconds).c_str(),
                 usual ? "no slower than before" : "p99 under its budget + 0.5 s, no growth");
    reportFigure(historyWhat.c_str(), summary(histories, seconds).c_str(),
                 usual ? "no slower than before" : "p99 under 100 ms, no growth");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 30;
    for (const Scenario scenario : {Scenario::usual, Scenario::stoppedDisplay, Scenario::slowRepository})
        if (!runScenario(scenario, seconds)) return 1;
    return 0;
}
