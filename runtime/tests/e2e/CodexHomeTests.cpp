// What a real Codex CLI leaves in its home (skills, session logs, configuration) as the runtime
// reports it.

#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/FakeModelServer.h"
#include "support/LoopbackHTTP.h"
#include "support/PinnedCodex.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace kestro;
using namespace kestro::testing;
using json = nlohmann::json;

TEST(CodexHomeTest, SkillsUsageAndSettingsFromARealSession) {
    FakeModelServer model({.headers = {{"x-codex-primary-used-percent", "42.5"},
                                       {"x-codex-primary-window-minutes", "300"},
                                       {"x-codex-primary-reset-at", "1767225600"},
                                       {"x-codex-secondary-used-percent", "7"},
                                       {"x-codex-secondary-window-minutes", "10080"},
                                       {"x-codex-secondary-reset-at", "1767830400"},
                                       {"x-codex-credits-has-credits", "true"},
                                       {"x-codex-credits-unlimited", "false"},
                                       {"x-codex-credits-balance", "12.5"}}});
    TemporaryFolder home;
    model.configureCodexHome(home.path(), "model_reasoning_effort = \"low\"\n");
    const auto session = runProcess({.executable = "/usr/bin/env",
                                     .arguments = {"HOME=" + home.path(), kPinnedCodex, "exec", "--json",
                                                   "--skip-git-repo-check", "Say hello"},
                                     .currentDirectory = home.path()});
    ASSERT_EQ(session.status, 0) << session.standardError;

    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", "t", "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"KESTRO_CODEX_PATH", kPinnedCodex},
                        {"KESTRO_AGENT_ENABLE_USAGE_SNAPSHOT", "1"},
                        {"PATH", "/usr/bin:/bin"}},
                       home.path());
    ASSERT_EQ(agent.waitForLines(9).size(), 9u) << agent.standardError();
    const json status = json::parse(request(port, "GET", "/status", {{"X-Kestro-Token", "t"}}).body);

    EXPECT_EQ(status["defaultModel"], "fake-model");
    EXPECT_EQ(status["defaultReasoningEffort"], "low");
    const json& skills = status["installedSkills"];
    ASSERT_FALSE(skills.empty());
    for (const auto& skill : skills) {
        EXPECT_EQ(skill["source"], "System") << skill;
        EXPECT_NE(skill["path"].get<std::string>().find("/.codex/skills/.system/"), std::string::npos);
        EXPECT_TRUE(std::filesystem::exists(skill["path"].get<std::string>()));
    }
    const std::string skillCount = std::to_string(skills.size()) + " skills";
    EXPECT_NE(agent.waitForLines(9)[5].find(skillCount), std::string::npos) << agent.waitForLines(9)[5];

    const json& usage = status["usageSnapshot"];
    ASSERT_TRUE(usage.is_object()) << status.dump();
    EXPECT_EQ(usage["primary"],
              json({{"usedPercent", 42.5}, {"windowMinutes", 300}, {"resetsAt", "2026-01-01T00:00:00Z"}}));
    EXPECT_EQ(usage["secondary"],
              json({{"usedPercent", 7.0}, {"windowMinutes", 10080}, {"resetsAt", "2026-01-08T00:00:00Z"}}));
    EXPECT_EQ(usage["hasCredits"], true);
    EXPECT_EQ(usage["creditsUnlimited"], false);
    EXPECT_EQ(usage["creditsBalance"], 12.5);
    EXPECT_EQ(usage["authMode"], "unknown");
    EXPECT_EQ(usage["planLabel"], "Local account");
    EXPECT_EQ(usage["capturedAt"].get<std::string>().size(), 20u);
}

TEST(CodexHomeTest, TheUsageSnapshotNeedsTheSwitch) {
    TemporaryFolder home;
    std::filesystem::create_directories(home.path() + "/.codex/sessions");
    std::ofstream(home.path() + "/.codex/sessions/s.jsonl")
        << R"({"timestamp":"2026-12-08T00:00:00Z","payload":{"info":{"rate_limits":{"primary":{"used_percent":5}}}}})"
        << "\n";
    const uint16_t port = freePort();
    AgentProcess agent({"--port", std::to_string(port), "--token", "t", "--no-open-pair-page"},
                       {{"HOME", home.path()},
                        {"XDG_RUNTIME_DIR", home.path()},
                        {"KESTRO_CODEX_PATH", kPinnedCodex},
                        {"KESTRO_AGENT_ENABLE_USAGE_SNAPSHOT", "true"},
                        {"PATH", "/usr/bin:/bin"}});
    ASSERT_EQ(agent.waitForLines(9).size(), 9u);
    const json status = json::parse(request(port, "GET", "/status", {{"X-Kestro-Token", "t"}}).body);
    EXPECT_FALSE(status.contains("usageSnapshot"));

    // The legacy switch alone turns it on.
    const uint16_t legacyPort = freePort();
    AgentProcess legacy({"--port", std::to_string(legacyPort), "--token", "t", "--no-open-pair-page"},
                        {{"HOME", home.path()},
                         {"XDG_RUNTIME_DIR", home.path()},
                         {"KESTRO_CODEX_PATH", kPinnedCodex},
                         {"VESK_AGENT_ENABLE_USAGE_SNAPSHOT", "1"},
                         {"PATH", "/usr/bin:/bin"}});
    ASSERT_EQ(legacy.waitForLines(9).size(), 9u);
    const json legacyStatus =
        json::parse(request(legacyPort, "GET", "/status", {{"X-Kestro-Token", "t"}}).body);
    EXPECT_EQ(legacyStatus["usageSnapshot"]["primary"]["usedPercent"], 5);
}
