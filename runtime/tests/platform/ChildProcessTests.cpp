#include "platform/ChildProcess.h"
#include "platform/SecureRandom.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kestro;
using namespace std::chrono;

namespace {

ChildProcess start(ProcessOptions options) {
    SpawnResult spawned = ChildProcess::spawn(options);
    if (!spawned.child) throw std::runtime_error(spawned.error);
    return std::move(*spawned.child);
}

bool readableWithin(int fd, milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, static_cast<int>(timeout.count())) == 1;
}

bool processExists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno != ESRCH;
}

std::string readAll(int fd) {
    std::string out;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0)
        out.append(chunk, static_cast<size_t>(got));
    return out;
}

} // namespace

TEST(ChildProcessTest, TheExitNoticeFiresAlsoForAChildThatEndedBeforeTheWait) {
    ChildProcess child = start({.executable = "/bin/sh", .arguments = {"-c", "exit 7"}, .watchExit = true});
    // Give it every chance to be over (and a zombie) before anybody watches.
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_TRUE(readableWithin(child.exitNotice().get(), seconds(5)));
    EXPECT_EQ(child.wait(), 7);
    EXPECT_EQ(child.wait(), 7); // reaped once; the status stays
}

TEST(ChildProcessTest, TheExitNoticeStaysQuietWhileTheChildRuns) {
    ChildProcess child = start({.executable = "/bin/sleep", .arguments = {"5"}, .watchExit = true});
    EXPECT_FALSE(readableWithin(child.exitNotice().get(), milliseconds(150)));
    EXPECT_FALSE(child.tryWait().has_value());
    child.terminate();
    EXPECT_TRUE(readableWithin(child.exitNotice().get(), seconds(5)));
    EXPECT_EQ(child.wait(), 128 + SIGTERM);
}

TEST(ChildProcessTest, AnOwnerThatGoesKillsAndReapsItsChild) {
    pid_t pid = -1;
    {
        ChildProcess child = start({.executable = "/bin/sleep", .arguments = {"30"}});
        pid = child.pid();
        ChildProcess movedTo = std::move(child); // ownership moves; the child is not touched
        EXPECT_TRUE(processExists(pid));
    }
    // Reaped as well as killed: not even a zombie is left for this process to collect.
    EXPECT_FALSE(processExists(pid));
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
}

TEST(ChildProcessTest, TheEnvironmentCanBeReplacedWhole) {
    ChildProcess child =
        start({.executable = "/usr/bin/env", .environment = std::vector<std::string>{"ONLY=this"}});
    EXPECT_EQ(readAll(child.standardOutput().get()), "ONLY=this\n");
    EXPECT_EQ(child.wait(), 0);
}

TEST(ChildProcessTest, DiscardedOutputLeavesNoPipesAndAMissingFolderIsNamed) {
    ChildProcess quiet = start({.executable = "/bin/echo", .arguments = {"lost"}, .captureOutput = false});
    EXPECT_FALSE(quiet.standardOutput().isOpen());
    EXPECT_EQ(quiet.wait(), 0);
    const SpawnResult missing =
        ChildProcess::spawn({.executable = "/bin/true", .currentDirectory = "/nonexistent/here"});
    EXPECT_FALSE(missing.child.has_value());
    EXPECT_EQ(missing.error, "The folder /nonexistent/here does not exist or is not a folder.");
}

TEST(SecureRandomTest, UUIDsAreVersion4AndTokensAre32LowerCaseHexDigits) {
    const std::string a = randomUUIDString();
    ASSERT_EQ(a.size(), 36u);
    EXPECT_EQ(a[14], '4');
    EXPECT_NE(std::string("89AB").find(a[19]), std::string::npos);
    EXPECT_NE(a, randomUUIDString());
    const std::string token = randomToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(token, randomToken());
}
