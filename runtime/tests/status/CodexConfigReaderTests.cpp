#include "status/CodexConfigReader.h"
#include "support/TemporaryFolder.h"

#include <gtest/gtest.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

TEST(CodexConfigReaderTest, TheFirstLineThatStartsWithTheKeyWins) {
    EXPECT_EQ(firstConfigValue("model", "model = \"fast\"\nmodel = \"slow\"\n"), "fast");
    EXPECT_EQ(firstConfigValue("model", "  model = \"x\"\nother = 1\n"), std::nullopt);
    EXPECT_EQ(firstConfigValue("model", "[profiles.work]\nmodel = \"profiled\"\n\nmodel = \"top\"\n"),
              "profiled");
    EXPECT_EQ(firstConfigValue("model", "model_reasoning_effort = high\n"), std::nullopt);
    EXPECT_EQ(firstConfigValue("model_reasoning_effort", "model_reasoning_effort = high # note\n"), "high");
    EXPECT_EQ(firstConfigValue("model_reasoning_effort", "model_reasoning_effort = \"high # note\"\n"),
              "high # note");
    EXPECT_EQ(firstConfigValue("model", "model = 'x'\n"), "'x'");
    EXPECT_EQ(firstConfigValue("model", "model=gpt-5\n"), "gpt-5");
    EXPECT_EQ(firstConfigValue("model", "model = \"  spaced  \"\n"), "spaced");
    EXPECT_EQ(firstConfigValue("model", ""), std::nullopt);
}

TEST(CodexConfigReaderTest, AuthModeComesOnlyFromAStringMember) {
    TemporaryFolder folder;
    const auto mode = [&](const std::string& contents) {
        return detectAuthMode(folder.write("auth.json", contents));
    };
    EXPECT_EQ(mode(R"({"auth_mode": "ChatGPT", "tokens": {"secret": "x"}})"), "ChatGPT");
    EXPECT_EQ(mode(R"({"auth_mode": ""})"), "unknown");
    EXPECT_EQ(mode(R"({"auth_mode": 3})"), "unknown");
    EXPECT_EQ(mode(R"(["auth_mode"])"), "unknown");
    EXPECT_EQ(mode("not json"), "unknown");
    EXPECT_EQ(detectAuthMode(folder.path() + "/missing.json"), "unknown");
}

TEST(CodexConfigReaderTest, ReadsTheCodexHome) {
    TemporaryFolder home;
    home.write(".codex/config.toml",
               "model = \"gpt-x\"\nmodel_reasoning_effort = \"high\"\n[plugins.\"github\"]\n");
    home.write(".codex/auth.json", R"({"auth_mode":"apikey"})");
    const auto snapshot = readCodexConfig(home.path());
    EXPECT_EQ(snapshot.defaultModel, "gpt-x");
    EXPECT_EQ(snapshot.defaultReasoningEffort, "high");
    EXPECT_EQ(snapshot.authMode, "apikey");
    ASSERT_EQ(snapshot.installedPlugins.size(), 1u);
    EXPECT_EQ(snapshot.installedPlugins[0].displayName, "Github");

    TemporaryFolder empty;
    const auto nothing = readCodexConfig(empty.path());
    EXPECT_FALSE(nothing.defaultModel.has_value());
    EXPECT_EQ(nothing.authMode, "unknown");
    EXPECT_TRUE(nothing.installedPlugins.empty());
}

TEST(CodexConfigReaderTest, MCPNamesComeFromTheFirstColumn) {
    const std::string listing = "Name   Command  Args  Env  Status  Auth\n"
                                "docs   npx      -y    -    enabled Unsupported\n"
                                "docs   npx      -y    -    enabled Unsupported\n"
                                "alpha  node     x.js  -    enabled Unsupported\n"
                                "Statusboard  cmd  -  -  enabled  -\n"
                                "single spaced\n"
                                "alone\n"
                                "  web.tool_1   https://x  \n";
    EXPECT_EQ(parseMCPServerList(listing), (std::vector<std::string>{"alpha", "docs", "web.tool_1"}));
    EXPECT_TRUE(parseMCPServerList("No MCP servers configured yet.").empty());
}

TEST(CodexConfigReaderTest, ComputerUseIsACaseInsensitiveContainment) {
    EXPECT_TRUE(computerUseConfigured({"docs", "Computer-Use-Bridge"}));
    EXPECT_FALSE(computerUseConfigured({"computer_use"}));
    EXPECT_FALSE(computerUseConfigured({}));
}
