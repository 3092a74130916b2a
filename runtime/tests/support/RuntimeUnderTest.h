#pragma once
// The built runtime in a throwaway home on a free port with a given Codex (the pinned CLI or a
// fake script), and fake Codex scripts that stand in for the CLI.

#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/TemporaryFolder.h"

#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace kestro::testing {

struct RuntimeUnderTest {
    RuntimeUnderTest(const std::string& codex, const std::string& token,
                     std::map<std::string, std::string> environment = {},
                     std::vector<std::string> launcher = {})
        : port(freePort()) {
        environment["HOME"] = home.path();
        environment["XDG_RUNTIME_DIR"] = home.path();
        environment["KESTRO_CODEX_PATH"] = codex;
        environment.emplace("PATH", "/usr/bin:/bin");
        agent = std::make_unique<AgentProcess>(
            std::vector<std::string>{"--port", std::to_string(port), "--token", token, "--no-open-pair-page"},
            environment, std::nullopt, std::move(launcher));
        banner = agent->waitForLines(9);
    }
    TemporaryFolder home;
    uint16_t port;
    std::unique_ptr<AgentProcess> agent;
    std::vector<std::string> banner;
};

// Writes a fake Codex at `path`: it answers the start-up probe with a version, and runs `body`
// for `exec … --json`.
inline std::string writeFakeCodex(const std::string& path, const std::string& body) {
    std::ofstream(path)
        << "#!/bin/sh\ncase \" $* \" in *\" --json \"*) ;; *) echo codex-cli-fake; exit 0 ;; esac\n"
        << body;
    ::chmod(path.c_str(), 0755);
    return path;
}

} // namespace kestro::testing
