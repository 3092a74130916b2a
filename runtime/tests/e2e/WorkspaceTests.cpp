// Projects, threads and transcripts that real Codex sessions leave behind, and git worktrees,
// through the runtime's routes.

#include "platform/ProcessRunner.h"
#include "support/AgentProcess.h"
#include "support/FakeModelServer.h"
#include "support/LoopbackHTTP.h"
#include "support/PinnedCodex.h"
#include "support/ProcessFacts.h"
#include "support/TemporaryFolder.h"
#include "workspace/GitStatus.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace kestro;
using namespace kestro::testing;
using json = nlohmann::json;

namespace {

const std::map<std::string, std::string> kToken{{"X-Kestro-Token", "t"}};

std::unique_ptr<AgentProcess> startAgent(const std::string& home, uint16_t port) {
    auto agent = std::make_unique<AgentProcess>(
        std::vector<std::string>{"--port", std::to_string(port), "--token", "t", "--no-open-pair-page",
                                 "--working-dir", home},
        std::map<std::string, std::string>{{"HOME", home},
                                           {"XDG_RUNTIME_DIR", home},
                                           {"KESTRO_CODEX_PATH", kPinnedCodex},
                                           {"PATH", "/usr/bin:/bin"}});
    agent->waitForLines(9);
    return agent;
}

} // namespace

TEST(WorkspaceTest, RealSessionsBecomeProjectsThreadsAndHistory) {
    FakeModelServer model;
    TemporaryFolder home;
    const std::string alpha = home.path() + "/code/alpha";
    const std::string beta = home.path() + "/code/beta";
    std::filesystem::create_directories(alpha);
    std::filesystem::create_directories(beta);
    model.configureCodexHome(home.path(), "[projects.\"" + beta + "\"]\ntrust_level = \"trusted\"\n");
    const uint16_t port = freePort();
    const auto agent = startAgent(home.path(), port);

    const auto runIn = [&](const std::string& directory, const std::string& prompt) {
        const RunStream stream =
            run(port, "t",
                json{{"prompt", prompt}, {"workingDirectory", directory}, {"resumeExistingSession", false}}
                    .dump());
        EXPECT_TRUE(stream.done);
        return json::parse(stream.events.at(1))["threadID"].get<std::string>();
    };
    runIn(alpha, "First task in alpha");
    // Threads are ordered by the second they were last used, and within one second the current
    // folder's thread comes first: the later run starts in a new second so that it sorts first.
    const std::time_t firstRunEnded = std::time(nullptr);
    ASSERT_TRUE(eventually([&] { return std::time(nullptr) != firstRunEnded; }));
    const std::string betaThread = runIn(beta, "Second task in beta");

    const json status =
        json::parse(request(port, "POST", "/status", kToken, json{{"workingDirectory", alpha}}.dump()).body);
    const json& threads = status["recentThreads"];
    ASSERT_EQ(threads.size(), 2u) << status.dump();
    EXPECT_EQ(threads[0]["threadID"], betaThread);
    EXPECT_EQ(threads[0]["title"], "Second task in beta");
    EXPECT_EQ(threads[0]["workingDirectory"], beta);
    EXPECT_EQ(threads[0]["projectName"], "beta");
    EXPECT_EQ(threads[0]["model"], "fake-model");
    EXPECT_EQ(threads[1]["title"], "First task in alpha");

    const json& projects = status["recentProjects"];
    ASSERT_EQ(projects.size(), 2u) << status.dump();
    EXPECT_EQ(projects[0]["path"], alpha);
    EXPECT_EQ(projects[0]["source"], "Recent");
    EXPECT_EQ(projects[0]["isCurrentWorkingDirectory"], true);
    EXPECT_EQ(projects[0]["threadCount"], 1);
    EXPECT_EQ(projects[0]["parentPath"], "~/code");
    EXPECT_EQ(projects[1]["path"], beta);
    EXPECT_EQ(projects[1]["source"], "Configured + Recent");
    EXPECT_EQ(projects[1]["lastThreadTitle"], "Second task in beta");

    const json history = json::parse(
        request(port, "POST", "/thread-history", kToken, json{{"threadID", betaThread}}.dump()).body);
    EXPECT_EQ(history["threadID"], betaThread);
    ASSERT_EQ(history["messages"].size(), 2u) << history.dump();
    EXPECT_EQ(history["messages"][0]["role"], "user");
    EXPECT_EQ(history["messages"][0]["text"], "Second task in beta");
    EXPECT_EQ(history["messages"][1]["role"], "assistant");
    EXPECT_EQ(history["messages"][1]["text"], "Hello from the fake model server today");
    EXPECT_EQ(history["messages"][1]["timestamp"].get<std::string>().size(), 20u);

    const json unknown =
        json::parse(request(port, "POST", "/thread-history", kToken, R"({"threadID":"nope"})").body);
    EXPECT_EQ(unknown, json({{"threadID", "nope"}, {"messages", json::array()}}));
}

TEST(WorkspaceTest, WorktreesThroughTheRoute) {
    TemporaryFolder home;
    const std::string repo = home.path() + "/code/app";
    std::filesystem::create_directories(repo);
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"init", "-q", "-b", "main"},
                                               {"-c", "user.name=T", "-c", "user.email=t@example.invalid",
                                                "commit", "-q", "--allow-empty", "-m", "first"}}) {
        std::vector<std::string> full{"-C", repo};
        full.insert(full.end(), arguments.begin(), arguments.end());
        ASSERT_EQ(runProcess({.executable = "/usr/bin/git", .arguments = full}).status, 0);
    }
    const uint16_t port = freePort();
    const auto agent = startAgent(home.path(), port);
    const auto create = [&](const std::string& directory) {
        return request(port, "POST", "/worktree", kToken,
                       json{{"name", "Add login page!"}, {"workingDirectory", directory}}.dump());
    };
    const HTTPAnswer first = create(repo);
    ASSERT_EQ(first.status, 200) << first.body;
    EXPECT_EQ(json::parse(first.body)["workingDirectory"], home.path() + "/code/app-add-login-page");
    // Branch names carry the second; the next request waits for a new one so git accepts it.
    const std::string stamp = worktreeTimeStamp();
    ASSERT_TRUE(eventually([&] { return worktreeTimeStamp() != stamp; }));
    const HTTPAnswer second = create(repo);
    ASSERT_EQ(second.status, 200) << second.body;
    EXPECT_EQ(json::parse(second.body)["displayName"], "app-add-login-page-2");

    const json status =
        json::parse(request(port, "POST", "/status", kToken, json{{"workingDirectory", repo}}.dump()).body);
    EXPECT_EQ(status["gitStatus"], json({{"branchName", "main"},
                                         {"changedFiles", 0},
                                         {"addedLines", 0},
                                         {"deletedLines", 0},
                                         {"isRepository", true}}));

    const HTTPAnswer outside = create(home.path());
    EXPECT_EQ(outside.status, 400);
    EXPECT_NE(json::parse(outside.body)["error"].get<std::string>().find("not a git repository"),
              std::string::npos);
}
