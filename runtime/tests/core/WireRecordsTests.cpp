#include "core/KestroAgentError.h"
#include "core/WireRecords.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace kestro;

TEST(WireRecordsTest, AbsentOptionalsAreLeftOutAndOrderIsKept) {
    EXPECT_EQ(encodeRecord(KestroAgentStreamEvent{.type = "assistant.delta", .text = "Hello "}),
              R"({"type":"assistant.delta","text":"Hello "})");
    EXPECT_EQ(encodeRecord(KestroAgentStreamEvent{
                  .type = "thread.started", .message = "Codex session linked", .threadID = "t-1"}),
              R"({"type":"thread.started","message":"Codex session linked","threadID":"t-1"})");
    EXPECT_EQ(encodeRecord(KestroAgentUsagePayload{}), "{}");
    EXPECT_EQ(encodeRecord(KestroAgentStreamEvent{.type = "job.completed",
                                                  .usage = KestroAgentUsagePayload{.outputTokens = 7}}),
              R"({"type":"job.completed","usage":{"outputTokens":7}})");
    EXPECT_EQ(encodeRecord(KestroAgentGitStatusPayload{.changedFiles = 2, .isRepository = true}),
              R"({"changedFiles":2,"addedLines":0,"deletedLines":0,"isRepository":true})");
}

TEST(WireRecordsTest, StatusNestsRecordsAndListsInFieldOrder) {
    KestroAgentStatusPayload status;
    status.machineName = "Studio";
    status.cpuLoad = 0.25;
    status.installedSkills = {{.name = "s", .description = "d", .source = "System", .path = "/p"}};
    status.gitStatus = KestroAgentGitStatusPayload{.branchName = "main", .isRepository = true};
    status.usageSnapshot = KestroAgentUsageSnapshotPayload{
        .planLabel = "Plus",
        .authMode = "chatgpt",
        .primary = KestroAgentRateLimitWindowPayload{.usedPercent = 12.5, .windowMinutes = 300}};
    const std::string json = encodeRecord(status);
    EXPECT_TRUE(json.starts_with(R"({"machineName":"Studio","hostName":"","ipAddress":"","cpuLoad":0.25,)"))
        << json;
    EXPECT_NE(
        json.find(R"("installedSkills":[{"name":"s","description":"d","source":"System","path":"/p"}])"),
        std::string::npos);
    EXPECT_NE(json.find(R"("gitStatus":{"branchName":"main","changedFiles":0)"), std::string::npos);
    EXPECT_NE(
        json.find(
            R"("usageSnapshot":{"planLabel":"Plus","authMode":"chatgpt","primary":{"usedPercent":12.5,"windowMinutes":300},"hasCredits":false)"),
        std::string::npos);
    EXPECT_EQ(json.find("codexPath"), std::string::npos);
    EXPECT_EQ(json.find("null"), std::string::npos);
    EXPECT_TRUE(
        json.ends_with(R"("isOnline":false,"workingDirectory":"","lastSeen":"","diagnosticMessage":""})"));
    EXPECT_EQ(decodeRecord<KestroAgentStatusPayload>(json), status);
}

TEST(WireRecordsTest, NonFiniteDoublesFailTheEncoding) {
    KestroAgentStatusPayload status;
    status.ramLoad = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW(encodeRecord(status), EncodingError);
    KestroAgentUsageSnapshotPayload usage;
    usage.creditsBalance = std::numeric_limits<double>::infinity();
    EXPECT_THROW(encodeRecord(usage), EncodingError);
}

TEST(WireRecordsTest, RequestsAreReadStrictly) {
    EXPECT_THROW(decodeRecord<KestroAgentRunRequest>(R"({"prompt":"hi"})"), DecodingError);
    const auto run =
        decodeRecord<KestroAgentRunRequest>(R"({"prompt":"hi","resumeExistingSession":false,"extra":1})");
    EXPECT_EQ(run.prompt, "hi");
    EXPECT_FALSE(run.threadID.has_value());
    const auto worktree =
        decodeRecord<KestroAgentWorktreeRequest>(R"({"name":"feature","workingDirectory":null})");
    EXPECT_EQ(worktree.name, "feature");
    EXPECT_FALSE(worktree.workingDirectory.has_value());
    EXPECT_THROW(decodeRecord<KestroAgentThreadHistoryRequest>(R"({"threadID":42})"), DecodingError);
    EXPECT_THROW(decodeRecord<KestroAgentThreadHistoryRequest>(R"({"threadID":null})"), DecodingError);
    EXPECT_THROW(decodeRecord<KestroAgentThreadHistoryRequest>("[]"), DecodingError);
    EXPECT_THROW(decodeRecord<KestroAgentThreadHistoryRequest>(""), DecodingError);
    EXPECT_THROW(decodeRecord<KestroAgentRunRequest>(R"({"prompt":"hi","resumeExistingSession":"no"})"),
                 DecodingError);
    EXPECT_THROW(decodeRecord<KestroAgentUsagePayload>(R"({"inputTokens":1.5})"), DecodingError);
    EXPECT_THROW(decodeRecord<KestroAgentUsagePayload>(R"({"inputTokens":18446744073709551615})"),
                 DecodingError);
    EXPECT_EQ(
        decodeRecord<KestroAgentStatusRequest>(R"({"workingDirectory":"\/tmp\u00e9"})").workingDirectory,
        "/tmpé");
    try {
        decodeRecord<KestroAgentThreadHistoryRequest>("{}");
        ADD_FAILURE();
    } catch (const DecodingError& error) {
        EXPECT_STREQ(error.what(), "Missing required field 'threadID'.");
    }
}

namespace {

std::string decodingError(const std::string& body) {
    try {
        decodeRecord<KestroAgentRunRequest>(body);
    } catch (const DecodingError& error) {
        return error.what();
    }
    return "";
}

} // namespace

// Bodies a hostile client can send: nesting refused before it is built, a NUL that would cut a
// path or an argument short, and many keys, which must not cost time by the square of their count.
TEST(WireRecordsTest, HostileBodiesAreRefusedOrReadInProportionToTheirSize) {
    EXPECT_EQ(decodingError(std::string(8 * 1024 * 1024, '[')), "The request body is nested too deeply.");
    EXPECT_EQ(decodingError(R"({"prompt":"p","other":{"a":{"b":{"c":{"d":{"e":{"f":{"g":{}}}}}}}}})"),
              "The request body is nested too deeply.");
    EXPECT_EQ(decodingError(R"({"prompt":"p","resumeExistingSession":false,"x":[[[[[[[1]]]]]]]})"), "");
    EXPECT_EQ(decodingError(R"({"prompt":"p","workingDirectory":"/tmp\u0000/etc"})"),
              "Field 'workingDirectory' contains a NUL character.");
    EXPECT_EQ(decodingError(R"({"prompt":"say\u0000 hi"})"), "Field 'prompt' contains a NUL character.");

    // 600,000 other keys, then the real members (the last of a repeated key wins).
    std::string body = "{";
    for (int i = 0; i < 600'000; ++i)
        body += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
    body += R"("prompt":"first","prompt":"last","resumeExistingSession":true})";
    const auto started = std::chrono::steady_clock::now();
    const auto request = decodeRecord<KestroAgentRunRequest>(body);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(request.prompt, "last");
    EXPECT_TRUE(request.resumeExistingSession);
    // Quadratic work takes minutes here; reading in proportion, well under a second.
    EXPECT_LT(took, std::chrono::seconds(20));

    // The same keys inside a member that holds a text: refused where the object starts.
    std::string inside = R"({"resumeExistingSession":false,"prompt":{)";
    for (int i = 0; i < 600'000; ++i)
        inside += "\"k" + std::to_string(i) + "\":0,";
    inside += R"("end":0}})";
    const auto insideStarted = std::chrono::steady_clock::now();
    EXPECT_EQ(decodingError(inside), "Field 'prompt' has the wrong type.");
    EXPECT_LT(std::chrono::steady_clock::now() - insideStarted, std::chrono::seconds(20));
}

TEST(WireRecordsTest, EveryAnswerRecordRoundTrips) {
    const KestroAgentThreadHistoryPayload history{
        .threadID = "t",
        .messages = {{.role = "user", .text = "hi"},
                     {.role = "assistant", .text = "yo", .timestamp = "2026-12-07T01:27:50Z"}}};
    EXPECT_EQ(decodeRecord<KestroAgentThreadHistoryPayload>(encodeRecord(history)), history);
    const KestroAgentSurfacePreviewPayload preview{.kind = "desktop",
                                                   .title = "Desktop",
                                                   .status = "Ready",
                                                   .detail = "d",
                                                   .isAvailable = true,
                                                   .mimeType = "image/jpeg",
                                                   .imageBase64 = "AA==",
                                                   .capturedAt = "2026-12-07T01:27:50Z"};
    EXPECT_EQ(decodeRecord<KestroAgentSurfacePreviewPayload>(encodeRecord(preview)), preview);
    const KestroAgentProjectPayload project{.path = "/p",
                                            .displayName = "p",
                                            .parentPath = "~",
                                            .source = "Recent",
                                            .threadCount = 3,
                                            .lastThreadTitle = "t",
                                            .existsOnDisk = true};
    EXPECT_EQ(decodeRecord<KestroAgentProjectPayload>(encodeRecord(project)), project);
    const KestroAgentThreadPayload thread{.threadID = "id",
                                          .title = "t",
                                          .workingDirectory = "/w",
                                          .projectName = "w",
                                          .model = "m",
                                          .gitBranch = "main"};
    EXPECT_EQ(decodeRecord<KestroAgentThreadPayload>(encodeRecord(thread)), thread);
    const KestroAgentPluginPayload plugin{.identifier = "a@b",
                                          .displayName = "A",
                                          .source = "b",
                                          .category = "c",
                                          .description = "d",
                                          .isEnabled = true};
    EXPECT_EQ(decodeRecord<KestroAgentPluginPayload>(encodeRecord(plugin)), plugin);
    const KestroAgentRemoteSurfacePayload surface{.kind = "browser",
                                                  .title = "Browser",
                                                  .status = "Off",
                                                  .detail = "x",
                                                  .lastUpdated = "2026-12-07T01:27:50Z"};
    EXPECT_EQ(decodeRecord<KestroAgentRemoteSurfacePayload>(encodeRecord(surface)), surface);
    const KestroAgentWorktreePayload worktree{.workingDirectory = "/w-2", .branch = "w", .displayName = "w"};
    EXPECT_EQ(encodeRecord(worktree), R"({"workingDirectory":"/w-2","branch":"w","displayName":"w"})");
}
