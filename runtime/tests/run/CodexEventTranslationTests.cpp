#include "run/CodexEventTranslation.h"

#include <gtest/gtest.h>

using namespace kestro;

namespace {

std::vector<KestroAgentStreamEvent> translate(std::string_view line, RunCapture& capture) {
    const auto event = decodeCodexEvent(line);
    if (!event) return {};
    return translateCodexEvent(*event, capture);
}

} // namespace

TEST(CodexEventTranslationTest, ThreadAndTurnEvents) {
    RunCapture capture;
    auto events = translate(R"({"type":"thread.started","thread_id":"abc"})", capture);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              (KestroAgentStreamEvent{
                  .type = "thread.started", .message = "Codex session linked", .threadID = "abc"}));
    EXPECT_EQ(capture.snapshot().threadID, "abc");

    RunCapture empty;
    events = translate(R"({"type":"thread.started","thread_id":""})", empty);
    EXPECT_EQ(events, (std::vector<KestroAgentStreamEvent>{
                          {.type = "job.progress", .message = "Codex session started"}}));
    EXPECT_FALSE(empty.snapshot().threadID.has_value());

    EXPECT_EQ(
        translate(R"({"type":"turn.started"})", capture),
        (std::vector<KestroAgentStreamEvent>{{.type = "job.progress", .message = "Codex is reasoning"}}));
}

TEST(CodexEventTranslationTest, AgentMessagesAreStoredThenStreamedInChunks) {
    RunCapture capture;
    const auto events = translate(
        R"({"type":"item.completed","item":{"type":"agent_message","text":"one two three four five"}})",
        capture);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].message, "Streaming response");
    EXPECT_EQ(events[1], (KestroAgentStreamEvent{.type = "assistant.delta", .text = "one two three "}));
    EXPECT_EQ(events[2], (KestroAgentStreamEvent{.type = "assistant.delta", .text = "four five"}));
    EXPECT_TRUE(pausesAfter(events[2]));
    EXPECT_FALSE(pausesAfter(events[0]));

    translate(
        R"({"type":"item.completed","item":{"type":"agent_message","content":[{"text":" Hi "},{"type":"x"},{"text":"there "}]}})",
        capture);
    EXPECT_EQ(capture.snapshot().finalText, "one two three four five\n\nHi there");
}

TEST(CodexEventTranslationTest, ItemsWithoutTextOrOfOtherKindsAreIgnored) {
    RunCapture capture;
    EXPECT_TRUE(
        translate(R"({"type":"item.completed","item":{"type":"agent_message","text":""}})", capture).empty());
    EXPECT_TRUE(
        translate(R"({"type":"item.completed","item":{"type":"reasoning","text":"hmm"}})", capture).empty());
    EXPECT_TRUE(
        translate(R"({"type":"item.completed","item":{"type":"error","message":"metadata"}})", capture)
            .empty());
    EXPECT_EQ(capture.snapshot().finalText, "");
    // Only spaces: stored and announced, but no chunks.
    const auto spaces =
        translate(R"({"type":"item.completed","item":{"type":"agent_message","text":"   "}})", capture);
    ASSERT_EQ(spaces.size(), 1u);
    EXPECT_EQ(spaces[0].message, "Streaming response");
    EXPECT_EQ(capture.snapshot().finalText, "   ");
}

TEST(CodexEventTranslationTest, ErrorsAreStoredSilentlyAndTheLastWins) {
    RunCapture capture;
    EXPECT_TRUE(translate(R"({"type":"turn.failed","error":{"message":"M"}})", capture).empty());
    EXPECT_EQ(capture.snapshot().protocolErrorMessage, "M");
    translate(R"({"type":"error"})", capture);
    EXPECT_EQ(capture.snapshot().protocolErrorMessage, "Codex reported an unknown error.");
    translate(R"({"type":"error","message":"top","error":{"message":"nested"}})", capture);
    EXPECT_EQ(capture.snapshot().protocolErrorMessage, "nested");
}

TEST(CodexEventTranslationTest, TurnCompletionCarriesUsage) {
    RunCapture capture;
    const auto events =
        translate(R"({"type":"turn.completed","usage":{"input_tokens":10,"output_tokens":5}})", capture);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].usage, (KestroAgentUsagePayload{.inputTokens = 10, .outputTokens = 5}));
    EXPECT_EQ(
        encodeRecord(events[0]),
        R"({"type":"job.progress","message":"Codex finished generating","usage":{"inputTokens":10,"outputTokens":5}})");
    const auto bare = translate(R"({"type":"turn.completed"})", capture);
    EXPECT_EQ(encodeRecord(bare.at(0)),
              R"({"type":"job.progress","message":"Codex finished generating","usage":{}})");
    EXPECT_EQ(capture.snapshot().usage, KestroAgentUsagePayload{});
}

TEST(CodexEventTranslationTest, UnreadableLinesAreSkipped) {
    EXPECT_FALSE(decodeCodexEvent("Reading prompt from stdin...").has_value());
    EXPECT_FALSE(decodeCodexEvent(R"({"type":3})").has_value());
    EXPECT_FALSE(decodeCodexEvent(R"(["type"])").has_value());
    EXPECT_FALSE(decodeCodexEvent(R"({"type":"turn.completed","usage":{"input_tokens":"10"}})").has_value());
    EXPECT_FALSE(decodeCodexEvent(R"({"type":"error","error":"plain"})").has_value());
    EXPECT_TRUE(decodeCodexEvent(R"({"type":"x","thread_id":null,"extra":[1]})").has_value());
    // Counts of 2^63 and above have no signed 64-bit form: the wrong type, not a negative count.
    EXPECT_FALSE(decodeCodexEvent(R"({"type":"turn.completed","usage":{"input_tokens":9223372036854775808}})")
                     .has_value());
    EXPECT_FALSE(
        decodeCodexEvent(R"({"type":"turn.completed","usage":{"output_tokens":18446744073709551615}})")
            .has_value());
    const auto largest =
        decodeCodexEvent(R"({"type":"turn.completed","usage":{"input_tokens":9223372036854775807}})");
    ASSERT_TRUE(largest.has_value());
    EXPECT_EQ(largest->usage->inputTokens, INT64_MAX);
}

TEST(CodexEventTranslationTest, ChunksAreThreeWordsSplitAtSpacesOnly) {
    EXPECT_EQ(kestroStreamingChunks("one"), std::vector<std::string>{"one"});
    EXPECT_EQ(kestroStreamingChunks("a  b"), std::vector<std::string>{"a b"});
    EXPECT_EQ(kestroStreamingChunks(" a b c "), std::vector<std::string>{"a b c"});
    EXPECT_EQ(kestroStreamingChunks("a\nb\tc d"), (std::vector<std::string>{"a\nb\tc d"}));
    EXPECT_EQ(kestroStreamingChunks("1 2 3 4 5 6 7"), (std::vector<std::string>{"1 2 3 ", "4 5 6 ", "7"}));
    EXPECT_TRUE(kestroStreamingChunks("   ").empty());
}

TEST(CodexEventTranslationTest, HumanizerUnwrapsErrorEnvelopes) {
    EXPECT_EQ(humanizeCodexMessage(R"({"error":{"message":"M"}})"), "M");
    EXPECT_EQ(humanizeCodexMessage(R"({"message":"M"})"), "M");
    EXPECT_EQ(humanizeCodexMessage(R"({"message":"top","error":{"message":"nested"}})"), "nested");
    EXPECT_EQ(humanizeCodexMessage("  plain text \n"), "plain text");
    EXPECT_EQ(humanizeCodexMessage(R"( {"error":"plain"} )"), R"({"error":"plain"})");
    EXPECT_EQ(humanizeCodexMessage(R"({"message":""})"), "");
    EXPECT_EQ(humanizeCodexMessage(R"({"other":1})"), R"({"other":1})");
}
