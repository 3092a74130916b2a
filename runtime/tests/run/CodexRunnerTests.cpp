#include "run/CodexRunner.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(CodexRunnerTest, ArgumentsForNewAndResumedThreads) {
    CodexRunRequest request{.prompt = "p", .workingDirectory = "/w"};
    EXPECT_EQ(codexRunArguments(request, "p"),
              (std::vector<std::string>{"exec", "--json", "--skip-git-repo-check", "--", "p"}));
    request.threadID = "T";
    EXPECT_EQ(codexRunArguments(request, "p").size(), 5u);
    request.resumeExistingSession = true;
    request.preferredModel = "gpt-x";
    EXPECT_EQ(codexRunArguments(request, "p"),
              (std::vector<std::string>{"exec", "resume", "--json", "--skip-git-repo-check", "--model",
                                        "gpt-x", "--", "T", "p"}));
    request.threadID = "  ";
    EXPECT_EQ(codexRunArguments(request, "p").at(1), "--json");
    EXPECT_EQ(codexStartMessage(request), "Resuming Codex session in /w");
    request.resumeExistingSession = false;
    EXPECT_EQ(codexStartMessage(request), "Launching Codex in /w");
    for (const std::string model : {"codex", "CODEX", ""}) {
        request.preferredModel = model;
        const auto arguments = codexRunArguments(request, "p");
        EXPECT_EQ(std::find(arguments.begin(), arguments.end(), "--model"), arguments.end()) << model;
    }
}

// Texts the phone sends come after "--", and a thread to resume named like an option is refused.
TEST(CodexRunnerTest, PhoneTextsAreNeverOptions) {
    const CodexRunRequest request{
        .prompt = "--version", .workingDirectory = "/w", .threadID = "--last", .resumeExistingSession = true};
    const auto arguments = codexRunArguments(request, "--version");
    const auto end = std::find(arguments.begin(), arguments.end(), "--");
    ASSERT_NE(end, arguments.end());
    EXPECT_EQ(std::vector<std::string>(end + 1, arguments.end()),
              (std::vector<std::string>{"--last", "--version"}));
    EXPECT_TRUE(isRefusedThreadID(request));
    EXPECT_TRUE(isRefusedThreadID({.threadID = " -x", .resumeExistingSession = true}));
    EXPECT_FALSE(isRefusedThreadID({.threadID = "-x", .resumeExistingSession = false}));
    EXPECT_FALSE(isRefusedThreadID({.threadID = "a-b", .resumeExistingSession = true}));
}

TEST(CodexRunnerTest, OutcomeRules) {
    EXPECT_EQ(codexRunFailure(0, {}), std::nullopt);
    EXPECT_EQ(codexRunFailure(0, {.protocolErrorMessage = "P"}), "P");
    EXPECT_EQ(codexRunFailure(0, {.finalText = "text", .protocolErrorMessage = "P"}), std::nullopt);
    EXPECT_EQ(codexRunFailure(0, {.finalText = " \n", .protocolErrorMessage = "P"}), "P");
    EXPECT_EQ(codexRunFailure(1, {.finalText = "text", .errorText = "E", .protocolErrorMessage = "P"}), "P");
    EXPECT_EQ(codexRunFailure(1, {.errorText = "E"}), "E");
    EXPECT_EQ(codexRunFailure(2, {}), "Codex exited with status 2.");
}

TEST(CodexRunnerTest, TheCaptureKeepsEightHumanizedErrorLines) {
    RunCapture capture;
    for (int i = 1; i <= 12; ++i)
        capture.appendStderrLine(" {\"message\":\"line " + std::to_string(i) + "\"} ");
    EXPECT_TRUE(capture.hasAllErrorLines());
    EXPECT_EQ(capture.snapshot().errorText, "line 1\nline 2\nline 3\nline 4\nline 5\nline 6\nline 7\nline 8");
}
