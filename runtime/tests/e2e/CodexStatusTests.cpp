// The real, pinned Codex CLI behind the runtime: probe, MCP servers, banner and status.

#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/LoopbackHTTP.h"
#include "support/PinnedCodex.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace kestro;
using namespace kestro::testing;
using json = nlohmann::json;

namespace {

// Runs the Codex CLI with a throwaway HOME, as a user would in a shell.
ProcessRunResult codexWithHome(const std::string& home, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"HOME=" + home, kPinnedCodex});
    return runProcess({.executable = "/usr/bin/env", .arguments = std::move(arguments)});
}

} // namespace

TEST(CodexStatusTest, TheRealCLIIsProbedAndItsMCPServersListed) {
    ASSERT_TRUE(std::filesystem::exists(kPinnedCodex)) << "run scripts/install-test-codex first";
    TemporaryFolder home;
    ASSERT_EQ(codexWithHome(home.path(), {"mcp", "add", "docs", "--", "npx", "-y", "docs-server"}).status, 0);
    ASSERT_EQ(
        codexWithHome(home.path(), {"mcp", "add", "computer-use-bridge", "--url", "http://127.0.0.1:9/mcp"})
            .status,
        0);
    std::string version = codexWithHome(home.path(), {"--version"}).standardOutput;
    while (!version.empty() && (version.back() == '\n' || version.back() == ' '))
        version.pop_back();
    ASSERT_EQ(version, "codex-cli 0.169.0");

    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", "t", "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"KESTRO_CODEX_PATH", kPinnedCodex},
                        {"PATH", "/usr/bin:/bin"}});
    const auto lines = agent.waitForLines(9);
    ASSERT_EQ(lines.size(), 9u) << agent.standardError();
    EXPECT_EQ(lines[4], "Codex: " + version);
    EXPECT_EQ(lines[5], "Diagnostic: " + version + " ready · 0 skills · 2 MCP servers");

    const HTTPAnswer answer = request(port, "GET", "/status", {{"X-Kestro-Token", "t"}});
    ASSERT_EQ(answer.status, 200);
    const json status = json::parse(answer.body);
    EXPECT_EQ(status["codexPath"], kPinnedCodex);
    EXPECT_EQ(status["codexVersion"], version);
    EXPECT_EQ(status["codexInstalled"], true);
    EXPECT_EQ(status["resumableSessionsSupported"], true);
    EXPECT_EQ(status["supportsImageInput"], true);
    EXPECT_EQ(status["supportsOSSProvider"], true);
    EXPECT_EQ(status["supportsAppServer"], true);
    EXPECT_EQ(status["configuredMCPServers"], json::array({"computer-use-bridge", "docs"}));
    EXPECT_EQ(status["computerUseConfigured"], true);
}
