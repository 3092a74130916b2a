#include "support/TemporaryFolder.h"
#include "workspace/Projects.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

namespace {

CodexProjectRecord recent(const std::string& path, int64_t count, std::optional<double> milliseconds,
                          std::optional<std::string> title = std::nullopt) {
    CodexProjectRecord record{
        .path = path, .source = "Recent", .threadCount = count, .lastThreadTitle = title};
    if (milliseconds)
        record.lastUsedAt = std::chrono::system_clock::time_point(
            std::chrono::milliseconds(static_cast<int64_t>(*milliseconds)));
    return record;
}

std::vector<std::string> names(const std::vector<KestroAgentProjectPayload>& payloads) {
    std::vector<std::string> out;
    for (const auto& payload : payloads)
        out.push_back(payload.displayName);
    return out;
}

} // namespace

TEST(ProjectsTest, RowsParseIntoRecords) {
    const auto records = parseRecentProjectRows("/w/app\t1767225600000\t3\tFix the build\n"
                                                "/w/lib\tnot-a-time\tx\t\n"
                                                "  \t\n"
                                                "Error: no such table: threads\n"
                                                "/w/two\t1767225600500.0\t2\n");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].path, "/w/app");
    EXPECT_EQ(records[0].threadCount, 3);
    EXPECT_EQ(records[0].lastThreadTitle, "Fix the build");
    EXPECT_TRUE(records[0].lastUsedAt.has_value());
    EXPECT_FALSE(records[1].lastUsedAt.has_value());
    EXPECT_EQ(records[1].threadCount, 0);
    EXPECT_FALSE(records[1].lastThreadTitle.has_value());
    EXPECT_FALSE(records[2].lastThreadTitle.has_value());
}

TEST(ProjectsTest, ConfiguredHeadersMustStandAlone) {
    TemporaryFolder home;
    home.write(".codex/config.toml", "[projects.\"/w/declared\"]\ntrust_level = \"trusted\"\n"
                                     "  [projects.\"/w/indented\"]\n[projects.\"/w/commented\"] # x\n"
                                     "[projects.\"~/tilde\"]\n");
    const auto records = configuredProjects(home.path());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].path, "/w/declared");
    EXPECT_EQ(records[0].source, "Configured");
    EXPECT_TRUE(records[1].path.ends_with("/tilde"));
}

TEST(ProjectsTest, MergeOrderAndClashes) {
    TemporaryFolder home;
    const std::string h = home.path();
    const auto payloads = mergedProjectPayloads(
        {{.path = h + "/Developer/app", .source = "Configured"},
         {.path = h + "/declared", .source = "Configured"}},
        {recent(h + "/Developer/app", 5, 2000e3, "Latest title"), recent(h + "/old/app", 9, 3000e3),
         recent(h + "/Notes", 1, 1000e3), recent(h + "/notes", 1, 1000e3), recent(h, 7, 9000e3),
         recent(h + "/same-a", 2, 500e3), recent(h + "/same-b", 3, 500.4e3)},
        h + "/current", h);
    EXPECT_EQ(names(payloads),
              (std::vector<std::string>{"current", "app", "Notes", "same-b", "same-a", "declared"}));
    EXPECT_EQ(payloads[0].source, "Current");
    EXPECT_TRUE(payloads[0].isCurrentWorkingDirectory);
    EXPECT_EQ(payloads[0].parentPath, "~");
    // ~/old/app sorts first (later use) and hides ~/Developer/app.
    EXPECT_EQ(payloads[1].path, h + "/old/app");
    EXPECT_EQ(payloads[1].parentPath, "~/old");
    EXPECT_EQ(payloads[5].source, "Configured");
    EXPECT_FALSE(payloads[5].lastUsedAt.has_value());
}

TEST(ProjectsTest, TheHomeIsComparedNormalizedAndOnlyAsAWholeFolder) {
    TemporaryFolder root;
    const std::string h = root.folder("me");
    root.folder("me2/x");
    root.folder("me/code/app");
    const std::string link = root.path() + "/link-to-me";
    std::filesystem::create_directory_symlink(h, link);
    for (const std::string& home : {h + "/", link, link + "/"}) {
        const auto payloads = mergedProjectPayloads({},
                                                    {recent(h, 3, 3000e3), recent(h + "/code/app", 1, 2000e3),
                                                     recent(root.path() + "/me2/x", 1, 1000e3)},
                                                    h + "/code/app", home);
        // The home itself is never a project, however $HOME is written.
        ASSERT_EQ(names(payloads), (std::vector<std::string>{"app", "x"})) << home;
        EXPECT_EQ(payloads[0].parentPath, "~/code") << home;
        // me2 merely starts with the same letters: it is not inside the home.
        EXPECT_EQ(payloads[1].parentPath, root.path() + "/me2") << home;
    }
}

TEST(ProjectsTest, ADeclaredFolderWithThreadsIsBoth) {
    TemporaryFolder home;
    const std::string h = home.path();
    const auto payloads =
        mergedProjectPayloads({{.path = h + "/app", .source = "Configured"}},
                              {recent(h + "/app", 4, 1767225600000.0, "Title")}, h + "/app", h);
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_EQ(payloads[0].source, "Configured + Recent");
    EXPECT_EQ(payloads[0].threadCount, 4);
    EXPECT_EQ(payloads[0].lastUsedAt, "2026-01-01T00:00:00Z");
    EXPECT_EQ(payloads[0].lastThreadTitle, "Title");
    EXPECT_TRUE(payloads[0].isCurrentWorkingDirectory);
    EXPECT_FALSE(payloads[0].existsOnDisk);
    EXPECT_TRUE(mergedProjectPayloads({}, {}, h, h).empty());
}

TEST(ProjectsTest, WithoutSqliteTheConfiguredAndCurrentFoldersRemain) {
    TemporaryFolder home;
    home.write(".codex/config.toml", "[projects.\"" + home.path() + "/declared\"]\n");
    home.write(".codex/state_5.sqlite", "not a database");
    SystemTools tools;
    tools.sqlite3 = "/nonexistent/sqlite3";
    EXPECT_EQ(names(detectProjects(home.path() + "/here", home.path(), tools)),
              (std::vector<std::string>{"here", "declared"}));
    // A database sqlite3 cannot read gives no rows either.
    EXPECT_EQ(names(detectProjects(home.path() + "/here", home.path(), SystemTools{})),
              (std::vector<std::string>{"here", "declared"}));
}
