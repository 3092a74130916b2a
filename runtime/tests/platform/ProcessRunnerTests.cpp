#include "platform/ProcessRunner.h"

#include <dirent.h>
#include <gtest/gtest.h>

using namespace kestro;

namespace {

size_t openDescriptorCount() {
    size_t count = 0;
    DIR* directory = ::opendir("/proc/self/fd");
    while (dirent* entry = ::readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(directory);
    return count;
}

} // namespace

TEST(ProcessRunnerTest, CollectsBothStreamsAndTheStatus) {
    const auto result = runProcess(
        {.executable = "/bin/sh", .arguments = {"-c", "printf 'out\\n'; printf 'err\\n' >&2; exit 3"}});
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.standardOutput, "out\n");
    EXPECT_EQ(result.standardError, "err\n");
}

TEST(ProcessRunnerTest, DrainsLargeOutputOnBothStreamsWithoutDeadlock) {
    const auto result = runProcess(
        {.executable = "/bin/sh",
         .arguments = {"-c",
                       "head -c 2097152 /dev/zero | tr '\\0' a; head -c 2097152 /dev/zero | tr '\\0' b >&2; "
                       "head -c 1048576 /dev/zero | tr '\\0' c"}});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.standardOutput.size(), 3u * 1024 * 1024);
    EXPECT_EQ(result.standardError.size(), 2u * 1024 * 1024);
    EXPECT_EQ(result.standardOutput.back(), 'c');
}

TEST(ProcessRunnerTest, AMissingExecutableIsStatusOneWithADescription) {
    const size_t before = openDescriptorCount();
    const auto result = runProcess({.executable = "/nonexistent/codex", .arguments = {"--version"}});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_NE(result.standardError.find("/nonexistent/codex"), std::string::npos);
    EXPECT_EQ(runCommand("/nonexistent/codex", {}), result.standardError);
    EXPECT_EQ(openDescriptorCount(), before);
}

TEST(ProcessRunnerTest, RunCommandPrefersStandardOutput) {
    EXPECT_EQ(runCommand("/bin/sh", {"-c", "echo version >&2"}), "version\n");
    EXPECT_EQ(runCommand("/bin/sh", {"-c", "echo a; echo b >&2"}), "a\n");
    EXPECT_EQ(runCommand("/bin/sh", {"-c", "true"}), "");
}

TEST(ProcessRunnerTest, ChildrenGetNullInputTheDirectoryAndNoExtraDescriptors) {
    const auto input = runProcess({.executable = "/bin/cat"});
    EXPECT_EQ(input.status, 0);
    EXPECT_EQ(input.standardOutput, "");
    const auto directory = runProcess({.executable = "/bin/pwd", .currentDirectory = "/usr"});
    EXPECT_EQ(directory.standardOutput, "/usr\n");
    const auto descriptors = runProcess({.executable = "/bin/ls", .arguments = {"/proc/self/fd"}});
    // 0, 1, 2 and the descriptor ls itself opens to read the folder.
    EXPECT_EQ(descriptors.standardOutput, "0\n1\n2\n3\n");
}

TEST(ProcessRunnerTest, InvalidUTF8IsReplacedNotDropped) {
    EXPECT_EQ(runCommand("/usr/bin/printf", {"a\\377b\\n"}), "a\uFFFDb\n");
}

TEST(ProcessRunnerTest, ArgumentsAreNotInterpretedByAShell) {
    EXPECT_EQ(runCommand("/bin/echo", {"$HOME", "a;b", "'q'"}), "$HOME a;b 'q'\n");
}

TEST(ProcessRunnerTest, AProgramPastItsTimeIsStoppedWithItsGroupAndItsOutputIsBounded) {
    const std::string pidFile = ::testing::TempDir() + "/runner-left-behind.pid";
    const auto hung = runProcess(
        {.executable = "/usr/bin/env",
         .arguments = {"sh", "-c", "sleep 300 & echo $! > '" + pidFile + "'; echo started; sleep 300"}},
        {.time = std::chrono::seconds(2)});
    EXPECT_EQ(hung.status, 1);
    EXPECT_EQ(hung.standardError, "sh did not finish within 2 seconds and was stopped.");
    // What it left behind in its group is gone too (ended, or a zombie awaiting its new parent).
    const std::string left = std::to_string(std::stoi(runCommand("/bin/cat", {pidFile})));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    std::string state = runCommand("/bin/sh", {"-c", "cut -d' ' -f3 /proc/" + left + "/stat 2>/dev/null"});
    while (!state.empty() && state != "Z\n" && std::chrono::steady_clock::now() < deadline)
        state = runCommand("/bin/sh", {"-c", "cut -d' ' -f3 /proc/" + left + "/stat 2>/dev/null"});
    EXPECT_TRUE(state.empty() || state == "Z\n") << state;

    const auto large = runProcess({.executable = "/usr/bin/head", .arguments = {"-c", "100000", "/dev/zero"}},
                                  {.outputBytes = 10});
    EXPECT_EQ(large.status, 0);
    EXPECT_EQ(large.standardOutput.size(), 10u);
}
