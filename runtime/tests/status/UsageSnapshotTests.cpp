#include "status/UsageSnapshot.h"
#include "support/TemporaryFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace kestro;
using kestro::testing::TemporaryFolder;
namespace fs = std::filesystem;

namespace {

std::string rateLine(const std::string& timestamp, double usedPercent, bool nestedInInfo = true) {
    const nlohmann::json limits = {
        {"primary", {{"used_percent", usedPercent}, {"window_minutes", 300}, {"resets_at", 1767225600}}},
        {"secondary", nullptr},
        {"plan_type", " plus "},
        {"credits", {{"has_credits", true}, {"unlimited", false}, {"balance", "12.5"}}}};
    nlohmann::json payload = {{"type", "token_count"}, {"info", {{"total", 1}}}};
    if (nestedInInfo)
        payload["info"]["rate_limits"] = limits;
    else
        payload["rate_limits"] = limits;
    return nlohmann::json{{"timestamp", timestamp}, {"type", "event_msg"}, {"payload", payload}}.dump();
}

void setAge(const std::string& path, int secondsAgo) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

} // namespace

TEST(UsageSnapshotTest, TheNewestFileWinsAndWithinItTheLastLine) {
    TemporaryFolder home;
    const auto older =
        home.write(".codex/sessions/2026/12/01/a.jsonl", rateLine("2026-12-09T00:00:00Z", 90) + "\n");
    const auto newer = home.write(".codex/sessions/2026/12/02/b.jsonl",
                                  rateLine("2026-12-02T00:00:00.123Z", 10) + "\n" +
                                      rateLine("2026-12-02T00:00:05Z", 20) + "\n{\"type\":\"other\"}\n");
    setAge(older, 100);
    setAge(newer, 10);
    const auto snapshot = detectUsageSnapshot(home.path(), "chatgpt");
    ASSERT_TRUE(snapshot.has_value());
    EXPECT_EQ(snapshot->primary->usedPercent, 20);
    EXPECT_EQ(snapshot->primary->windowMinutes, 300);
    EXPECT_EQ(snapshot->primary->resetsAt, "2026-01-01T00:00:00Z");
    EXPECT_FALSE(snapshot->secondary.has_value());
    EXPECT_EQ(snapshot->planLabel, "Plus");
    EXPECT_EQ(snapshot->authMode, "chatgpt");
    EXPECT_TRUE(snapshot->hasCredits);
    EXPECT_FALSE(snapshot->creditsUnlimited);
    EXPECT_EQ(snapshot->creditsBalance, 12.5);
    EXPECT_EQ(snapshot->capturedAt, "2026-12-02T00:00:05Z");
}

TEST(UsageSnapshotTest, TheRecordBesideInfoIsReadToo) {
    TemporaryFolder home;
    home.write(".codex/sessions/x.jsonl", rateLine("2026-12-08T00:28:36.535Z", 42, false) + "\n");
    const auto snapshot = detectUsageSnapshot(home.path(), "unknown");
    ASSERT_TRUE(snapshot.has_value());
    EXPECT_EQ(snapshot->primary->usedPercent, 42);
    EXPECT_EQ(snapshot->capturedAt, "2026-12-08T00:28:36Z");
}

TEST(UsageSnapshotTest, LinesMustHaveTheStructureNotJustTheWords) {
    TemporaryFolder home;
    home.write(".codex/sessions/x.jsonl", R"({"text":"\"rate_limits\" \"payload\" \"info\""})"
                                          "\n"
                                          R"({"payload":{"info":{"rate_limits":"none"}}})"
                                          "\n");
    EXPECT_FALSE(detectUsageSnapshot(home.path(), "unknown").has_value());
    EXPECT_FALSE(detectUsageSnapshot(home.path() + "/nowhere", "unknown").has_value());
}

TEST(UsageSnapshotTest, WindowsAndPlanLabels) {
    EXPECT_EQ(decodeRateLimitWindow("{}"), (KestroAgentRateLimitWindowPayload{}));
    const nlohmann::json textual = {
        {"used_percent", 150.5}, {"window_minutes", 60.5}, {"resets_at", "2026-01-01"}};
    EXPECT_EQ(decodeRateLimitWindow(textual.dump()),
              (KestroAgentRateLimitWindowPayload{.usedPercent = 150.5}));
    const nlohmann::json fractional = {{"resets_at", 1767225600.9}};
    EXPECT_EQ(decodeRateLimitWindow(fractional.dump())->resetsAt, "2026-01-01T00:00:00Z");
    EXPECT_FALSE(decodeRateLimitWindow("null").has_value());
    EXPECT_FALSE(decodeRateLimitWindow("[1]").has_value());
    EXPECT_EQ(normalizedPlanLabel("pro", "x"), "Pro");
    EXPECT_EQ(normalizedPlanLabel("team plan", "x"), "Team Plan");
    EXPECT_EQ(normalizedPlanLabel("", "ChatGPT"), "Personal account");
    EXPECT_EQ(normalizedPlanLabel(std::nullopt, "unknown"), "Local account");
}

TEST(UsageSnapshotTest, TailsDropTheCutLineAndKeepTheLast120) {
    TemporaryFolder folder;
    std::string big;
    while (big.size() < 200 * 1024)
        big += "line " + std::to_string(big.size()) + "\n";
    const auto path = folder.write("big.jsonl", big);
    const auto lines = recentJSONLLines(path, 131072, 100000);
    const std::string tail = big.substr(big.size() - 131072);
    EXPECT_EQ(lines.front(),
              tail.substr(tail.find('\n') + 1, tail.find('\n', tail.find('\n') + 1) - tail.find('\n') - 1));
    EXPECT_EQ(recentJSONLLines(path, 131072, 120).size(), 120u);

    std::string exact(131072 - 6, 'a');
    exact = "first\n" + exact.substr(6);
    exact.resize(131072, 'b');
    EXPECT_EQ(recentJSONLLines(folder.write("exact.jsonl", exact), 131072, 120).front(), "first");
    EXPECT_TRUE(
        recentJSONLLines(folder.write("one.jsonl", std::string(200 * 1024, 'x')), 131072, 120).empty());
}

TEST(UsageSnapshotTest, SessionFilesAreJSONLOnlyAndNotHidden) {
    TemporaryFolder folder;
    const auto newest = folder.write("s/2/new.jsonl", "x");
    const auto oldest = folder.write("s/1/old.jsonl", "x");
    folder.write("s/1/upper.JSONL", "x");
    folder.write("s/.hidden.jsonl", "x");
    folder.write("s/.cache/inside.jsonl", "x");
    setAge(newest, 1);
    setAge(oldest, 50);
    EXPECT_EQ(recentSessionFiles(folder.path() + "/s", 12), (std::vector<std::string>{newest, oldest}));
    EXPECT_EQ(recentSessionFiles(folder.path() + "/s", 1), std::vector<std::string>{newest});
}
