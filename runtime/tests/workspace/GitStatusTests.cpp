#include "core/KestroAgentError.h"
#include "platform/FileReading.h"
#include "platform/ProcessRunner.h"
#include "support/TemporaryFolder.h"
#include "workspace/GitStatus.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kestro;
using kestro::testing::TemporaryFolder;

namespace {

void git(const std::string& directory, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(),
                     {"-C", directory, "-c", "user.name=Test", "-c", "user.email=test@example.invalid"});
    const auto result = runProcess({.executable = "/usr/bin/git", .arguments = arguments});
    ASSERT_EQ(result.status, 0) << result.standardError;
}

std::string makeRepository(const TemporaryFolder& folder) {
    const std::string repo = folder.folder("code/app");
    git(repo, {"init", "-q", "-b", "main"});
    folder.write("code/app/notes.txt", "one\ntwo\nthree\n");
    folder.write("code/app/image.bin", std::string("\0\1\2\3", 4));
    git(repo, {"add", "."});
    git(repo, {"commit", "-q", "-m", "first"});
    return repo;
}

} // namespace

TEST(GitStatusTest, CountsChangesInARealRepository) {
    TemporaryFolder folder;
    const std::string repo = makeRepository(folder);
    auto clean = detectGitStatus(repo, SystemTools{});
    ASSERT_TRUE(clean.has_value());
    EXPECT_EQ(*clean, (KestroAgentGitStatusPayload{.branchName = "main", .isRepository = true}));

    folder.write("code/app/notes.txt", "one\nTWO\nthree\nfour\n");
    folder.write("code/app/image.bin", std::string("\0\1\2\4\5", 5));
    folder.write("code/app/untracked.txt", "new\nfile\n");
    const auto changed = detectGitStatus(repo, SystemTools{});
    EXPECT_EQ(*changed, (KestroAgentGitStatusPayload{.branchName = "main",
                                                     .changedFiles = 3,
                                                     .addedLines = 2,
                                                     .deletedLines = 1,
                                                     .isRepository = true}));

    git(repo, {"checkout", "-q", "--detach"});
    EXPECT_EQ(detectGitStatus(repo, SystemTools{})->branchName, "HEAD");
}

// A poll must not rewrite the user's index (nor hold its lock): a file whose time changed but whose
// text did not is reported unchanged, and the index stays byte for byte what it was.
TEST(GitStatusTest, LeavesTheIndexAlone) {
    namespace fs = std::filesystem;
    TemporaryFolder folder;
    const std::string repo = makeRepository(folder);
    const fs::path index = fs::path(repo) / ".git/index";
    const auto earlier = fs::file_time_type::clock::now() - std::chrono::minutes(5);
    fs::last_write_time(index, earlier);
    folder.write("code/app/notes.txt", "one\ntwo\nthree\n");
    fs::last_write_time(fs::path(repo) / "notes.txt", earlier + std::chrono::seconds(30));
    const auto before = readWholeFile(index.string(), 16 << 20);

    EXPECT_EQ(detectGitStatus(repo, SystemTools{}),
              (KestroAgentGitStatusPayload{.branchName = "main", .isRepository = true}));
    EXPECT_EQ(fs::last_write_time(index), earlier);
    EXPECT_EQ(readWholeFile(index.string(), 16 << 20), before);
    EXPECT_FALSE(fs::exists(fs::path(repo) / ".git/index.lock"));
}

TEST(GitStatusTest, OutsideARepositoryOrWithoutGit) {
    TemporaryFolder folder;
    EXPECT_EQ(detectGitStatus(folder.path(), SystemTools{}),
              (KestroAgentGitStatusPayload{.isRepository = false}));
    EXPECT_FALSE(detectGitStatus(folder.path() + "/missing", SystemTools{}).has_value());
    SystemTools noGit;
    noGit.git = "/nonexistent/git";
    EXPECT_FALSE(detectGitStatus(folder.path(), noGit).has_value());
}

TEST(GitStatusTest, SlugsLocationsAndStamps) {
    EXPECT_EQ(slugifiedName("Add login page!"), "add-login-page");
    EXPECT_EQ(slugifiedName("?!..."), "worktree");
    EXPECT_EQ(slugifiedName("Été Ünicode 日本"), "été-ünicode-日本");
    EXPECT_EQ(numstatTotals("3\t1\ta.txt\n-\t-\timage.bin\nwarning: x\n10\t0\tb.txt"),
              (std::pair<int64_t, int64_t>(13, 1)));
    TemporaryFolder folder;
    EXPECT_EQ(createWorktreeFolder(folder.path(), "app", "x"), folder.path() + "/app-x");
    folder.write("app-x-2", "a file");
    EXPECT_EQ(createWorktreeFolder(folder.path(), "app", "x"), folder.path() + "/app-x-3");
    EXPECT_TRUE(std::filesystem::is_directory(folder.path() + "/app-x-3"));
    EXPECT_THROW(createWorktreeFolder(folder.path() + "/missing", "app", "x"), KestroAgentError);
    const std::string stamp = worktreeTimeStamp();
    ASSERT_EQ(stamp.size(), 15u);
    EXPECT_EQ(stamp[8], '-');
}

TEST(GitStatusTest, WorktreesAreCreatedBesideTheRepository) {
    TemporaryFolder folder;
    const std::string repo = makeRepository(folder);
    folder.folder("code/app/sub");
    const auto first = createGitWorktree(repo + "/sub", "Add login page!", SystemTools{});
    EXPECT_EQ(first.workingDirectory, folder.path() + "/code/app-add-login-page");
    EXPECT_EQ(first.displayName, "app-add-login-page");
    EXPECT_TRUE(first.branch.starts_with("kestro/add-login-page-"));
    EXPECT_TRUE(std::filesystem::exists(first.workingDirectory + "/notes.txt"));

    // Git is asked to fill a folder the runtime has just made, never one that someone else could
    // have made first (git fills an empty folder that exists); its owner is kept where git sees it.
    const std::string seen = folder.path() + "/seen";
    folder.write("fake-env", "#!/bin/sh\nfor last; do :; done\nstat -c '%u %F' \"$last\" > " + seen +
                                 "\nexec /usr/bin/env \"$@\"\n");
    std::filesystem::permissions(folder.path() + "/fake-env", std::filesystem::perms::owner_all);
    folder.folder("code/app-taken");
    const auto second = createGitWorktree(repo, "taken", SystemTools{.env = folder.path() + "/fake-env"});
    EXPECT_EQ(second.workingDirectory, folder.path() + "/code/app-taken-2");
    EXPECT_EQ(readWholeFile(seen, 16 << 20).value_or(""), std::to_string(::getuid()) + " directory\n");

    folder.write("code/app-other-2/x", "");
    try {
        createGitWorktree(folder.path(), "x", SystemTools{});
        ADD_FAILURE() << "no repository, yet a worktree";
    } catch (const KestroAgentError& error) {
        EXPECT_NE(std::string(error.what()).find("not a git repository"), std::string::npos) << error.what();
    }
}
