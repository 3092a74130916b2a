// GET /status latency over a busy Codex home (48 threads, 80 projects) in a git working
// directory, against the slowest single child process a status runs.
//
//   kestro_status_bench [REQUESTS]

#include "BusyCodexHome.h"
#include "Figures.h"
#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "workspace/Projects.h"
#include "workspace/Threads.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kestro;
using namespace kestro::testing;

namespace {

// One GET /status, timed to the answer's last byte (the server then lingers before closing).
std::string timedStatus(uint16_t port, double& milliseconds) {
    std::string received;
    milliseconds = millisecondsOf([&] {
        const int fd = connectLoopback(port);
        const std::string text = "GET /status HTTP/1.1\r\nX-Kestro-Token: b\r\n\r\n";
        ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
        received = readAnswer(fd);
        ::close(fd);
    });
    return received;
}

double median(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int requests = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    TemporaryFolder home;
    const std::string repo = home.path() + "/code/project0";
    makeBusyCodexHome(home.path(), repo);
    const std::string database = home.path() + "/.codex/state_5.sqlite";

    // The children one status runs, each timed alone.
    const std::vector<std::pair<const char*, ProcessOptions>> children = {
        {"sqlite3 projects",
         {.executable = "/usr/bin/sqlite3",
          .arguments = {"-separator", "\t", database, kRecentProjectsQuery}}},
        {"sqlite3 threads",
         {.executable = "/usr/bin/sqlite3",
          .arguments = {"-separator", "\t", database, kRecentThreadsQuery}}},
        {"git rev-parse",
         {.executable = "/usr/bin/git", .arguments = {"-C", repo, "rev-parse", "--is-inside-work-tree"}}},
        {"git branch",
         {.executable = "/usr/bin/git", .arguments = {"-C", repo, "rev-parse", "--abbrev-ref", "HEAD"}}},
        {"git diff",
         {.executable = "/usr/bin/git",
          .arguments = {"-C", repo, "-c", "diff.autoRefreshIndex=false", "diff", "--numstat", "HEAD"}}},
        {"git status",
         {.executable = "/usr/bin/git",
          .arguments = {"--no-optional-locks", "-C", repo, "status", "--porcelain"}}},
    };
    double slowest = 0;
    const char* slowestName = "";
    for (const auto& [name, options] : children) {
        std::vector<double> samples;
        for (int i = 0; i < 21; ++i)
            samples.push_back(millisecondsOf([&] { runProcess(options); }));
        const double typical = median(samples);
        if (typical > slowest) {
            slowest = typical;
            slowestName = name;
        }
    }

    // What the children cost when all six start together, without the runtime around them: on a
    // machine with fewer cores than children this, not the slowest child, bounds a status.
    std::vector<double> together;
    for (int i = 0; i < 41; ++i)
        together.push_back(millisecondsOf([&] {
            std::vector<std::thread> started;
            for (const auto& child : children)
                started.emplace_back([&options = child.second] { runProcess(options); });
            for (auto& thread : started)
                thread.join();
        }));
    const double floor = median(together);

    const uint16_t port = freePort();
    AgentProcess agent(
        {"--port", std::to_string(port), "--token", "b", "--no-open-pair-page", "--working-dir", repo},
        {{"HOME", home.path()}, {"XDG_RUNTIME_DIR", home.path()}, {"PATH", "/usr/bin:/bin"}});
    if (agent.waitForLines(9).size() != 9) return 1;
    std::vector<double> latencies;
    size_t threads = 0, projects = 0;
    for (int i = 0; i < requests; ++i) {
        double milliseconds = 0;
        const std::string body = timedStatus(port, milliseconds);
        latencies.push_back(milliseconds);
        if (i == 0) {
            const HTTPAnswer answer = parseAnswer(body);
            const auto count = [&](const std::string& key) {
                size_t found = 0;
                for (size_t at = answer.body.find(key); at != std::string::npos;
                     at = answer.body.find(key, at + 1))
                    ++found;
                return found;
            };
            threads = count("\"threadID\"");
            projects = count("\"isCurrentWorkingDirectory\"");
        }
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("status with %zu threads and %zu projects: p50 %.1f ms, p99 %.1f ms over %d requests; "
                "slowest single child (%s) %.1f ms; p50 / slowest = %.2f; "
                "all six children started together %.1f ms (%.2f of the slowest); p50 / together = %.2f\n",
                threads, projects, latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100],
                requests, slowestName, slowest, latencies[latencies.size() / 2] / slowest, floor,
                floor / slowest, latencies[latencies.size() / 2] / floor);
    char value[128];
    std::snprintf(value, sizeof value,
                  "p50 %.1f ms, %.2f x the slowest child, %.2f x the six children together",
                  latencies[latencies.size() / 2], latencies[latencies.size() / 2] / slowest,
                  latencies[latencies.size() / 2] / floor);
    reportFigure("GET /status (48 threads, 80 projects, git)", value, "p50 under 2 x the slowest child");
    return 0;
}
