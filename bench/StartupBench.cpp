// Start-up time with the real Codex CLI: launch to the last banner line, against the six probe
// launches run one after another. Prints medians over several runs.
//
//   kestro_startup_bench [RUNS]

#include "Figures.h"
#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace kestro;
using namespace kestro::testing;
using Clock = std::chrono::steady_clock;

namespace {

double medianMilliseconds(int runs, const std::function<void()>& body) {
    std::vector<double> samples;
    body(); // warm-up: file caches, the launcher's first start
    for (int i = 0; i < runs; ++i) {
        const auto started = Clock::now();
        body();
        samples.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// A Codex home as a heavy user has it: 200 skills and 12 session logs of 5 MB each.
void fillCodexHome(const std::string& home) {
    namespace fs = std::filesystem;
    for (int i = 0; i < 200; ++i) {
        const fs::path folder = fs::path(home) / ".codex/skills" / ("group" + std::to_string(i % 10)) /
                                ("skill" + std::to_string(i));
        fs::create_directories(folder);
        std::ofstream(folder / "SKILL.md")
            << "---\nname: skill " << i << "\ndescription: does thing " << i << "\n---\n# Body\n";
    }
    const std::string line =
        R"({"timestamp":"2026-12-08T00:00:00Z","type":"event_msg","payload":{"type":"agent_message","message":")" +
        std::string(400, 'x') + "\"}}\n";
    for (int i = 0; i < 12; ++i) {
        const fs::path folder = fs::path(home) / ".codex/sessions/2026/12" / std::to_string(i + 1);
        fs::create_directories(folder);
        std::ofstream file(folder / "rollout.jsonl");
        for (size_t written = 0; written < 5u * 1024 * 1024; written += line.size())
            file << line;
    }
}

double startupMilliseconds(const std::string& codex, const std::string& home, int runs, bool usage) {
    auto environment = std::map<std::string, std::string>{
        {"HOME", home}, {"XDG_RUNTIME_DIR", home}, {"KESTRO_CODEX_PATH", codex}, {"PATH", "/usr/bin:/bin"}};
    if (usage) environment["KESTRO_AGENT_ENABLE_USAGE_SNAPSHOT"] = "1";
    return medianMilliseconds(runs, [&] {
        AgentProcess agent({"--port", std::to_string(freePort()), "--no-open-pair-page"}, environment);
        if (agent.waitForLines(9).size() != 9)
            std::fprintf(stderr, "no banner: %s\n", agent.standardError().c_str());
    });
}

void measure(const char* label, const std::string& codex, const std::string& home, int runs) {
    const auto environment = std::map<std::string, std::string>{
        {"HOME", home}, {"XDG_RUNTIME_DIR", home}, {"KESTRO_CODEX_PATH", codex}, {"PATH", "/usr/bin:/bin"}};
    const double startup = medianMilliseconds(runs, [&] {
        AgentProcess agent({"--port", std::to_string(freePort()), "--no-open-pair-page"}, environment);
        if (agent.waitForLines(9).size() != 9)
            std::fprintf(stderr, "no banner: %s\n", agent.standardError().c_str());
    });
    const std::vector<std::vector<std::string>> probes = {{"--version"},
                                                          {"--help"},
                                                          {"exec", "--help"},
                                                          {"exec", "resume", "--help"},
                                                          {"app-server", "--help"},
                                                          {"mcp", "list"}};
    const double sequential = medianMilliseconds(runs, [&] {
        for (const auto& arguments : probes) {
            std::vector<std::string> withHome{"HOME=" + home, codex};
            withHome.insert(withHome.end(), arguments.begin(), arguments.end());
            runProcess({.executable = "/usr/bin/env", .arguments = withHome});
        }
    });
    std::printf("%-14s start-up to last banner line: %8.1f ms   six probe launches in a row: %8.1f ms   "
                "ratio: %.2f\n",
                label, startup, sequential, startup / sequential);
    char what[96], value[96];
    std::snprintf(what, sizeof what, "start-up with the %s / its six probe launches in a row", label);
    std::snprintf(value, sizeof value, "%.2f (%.0f ms / %.0f ms)", startup / sequential, startup, sequential);
    reportFigure(what, value, "under 0.70");
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const std::string package = std::string(KESTRO_FIXTURES_DIR) + "/codex-cli/node_modules";
    TemporaryFolder home;
    measure("npm launcher", package + "/.bin/codex", home.path(), runs);
    const std::string native =
        package + "/@openai/codex-linux-x64/vendor/x86_64-unknown-linux-musl/bin/codex";
    measure("native binary", native, home.path(), runs);

    TemporaryFolder heavyHome;
    fillCodexHome(heavyHome.path());
    const double empty = startupMilliseconds(native, home.path(), runs, true);
    const double heavy = startupMilliseconds(native, heavyHome.path(), runs, true);
    std::printf("codex home with 200 skills and 12 x 5 MB session logs: start-up %.1f ms, empty home %.1f "
                "ms, added %.1f ms\n",
                heavy, empty, heavy - empty);
    char value[64];
    std::snprintf(value, sizeof value, "%.0f ms", heavy - empty);
    reportFigure("start-up added by 200 skills and 12 x 5 MB session logs", value, "under 50 ms");
    return 0;
}
