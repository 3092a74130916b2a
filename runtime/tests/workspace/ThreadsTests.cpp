#include "support/TemporaryFolder.h"
#include "workspace/Threads.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace kestro;

TEST(ThreadsTest, RowsNeedFivePiecesAFolderAndAnIdentifier) {
    const auto row =
        parseThreadRow(" t-1\t/w/app\t# Login\t first \t1767225600000\tgpt-5\t\thigh-ish\tnever\tmain\n");
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->id, "t-1");
    EXPECT_EQ(row->cwd, "/w/app");
    EXPECT_EQ(row->title, "# Login");
    EXPECT_EQ(row->firstUserMessage, "first");
    EXPECT_EQ(row->model, "gpt-5");
    EXPECT_FALSE(row->reasoningEffort.has_value());
    EXPECT_EQ(row->sandboxPolicy, "high-ish");
    EXPECT_EQ(row->gitBranch, "main");
    EXPECT_FALSE(parseThreadRow("t\t/w\ttitle\tfirst").has_value());
    EXPECT_FALSE(parseThreadRow("\t/w\ttitle\tfirst\t1").has_value());
    EXPECT_FALSE(parseThreadRow("t\t   \ttitle\tfirst\t1").has_value());
    // A row whose trailing columns are all empty (no time, no model) is kept, undated.
    const auto undated = parseThreadRow("t\t/w\ttitle\t\t\t\t\t\t\t");
    ASSERT_TRUE(undated.has_value());
    EXPECT_EQ(undated->title, "title");
    EXPECT_FALSE(undated->updatedAt.has_value());
    EXPECT_FALSE(undated->model.has_value());
    EXPECT_FALSE(undated->gitBranch.has_value());
    EXPECT_FALSE(parseThreadRow("t\t/w\ttitle\tx\tnull").value().updatedAt.has_value());
}

TEST(ThreadsTest, AMessageHoldingALineOrParagraphSeparatorIsKept) {
    // JSON may carry NEL, LS and PS unescaped inside strings: the log line stays one line.
    const std::string log =
        R"({"timestamp":"2026-12-08T00:00:01.250Z","type":"event_msg","payload":{"type":"user_message","message":"one)"
        "\u2028two\u2029three\u0085four"
        R"("}})"
        "\n";
    const auto messages = parseSessionTranscript(log);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].role, "user");
    EXPECT_EQ(messages[0].text, "one two three four");
}

TEST(ThreadsTest, ALogLineFromTheYear1013HasNoTime) {
    // The fuzzer's crashing input, cut down: a message stamped far outside the clock's range.
    const auto messages = parseSessionTranscript(
        R"({"timestamp":"1013-12-08T00:00:01.250Z","type":"event_msg","payload":{"type":"item_completed",)"
        R"("item":{"type":"AgentMessage","content":[{"text":"hi"}]}}})");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "hi");
    EXPECT_FALSE(messages[0].timestamp.has_value());
}

TEST(ThreadsTest, TitlesAndPreviews) {
    EXPECT_EQ(normalizedThreadTitle("## Login", std::nullopt, "app"), "Login");
    EXPECT_EQ(normalizedThreadTitle("  ", "Fix\nthe   build", "app"), "Fix the build");
    EXPECT_EQ(normalizedThreadTitle("", std::nullopt, "app"), "app");
    const std::string sixty(60, 'x');
    EXPECT_EQ(normalizedThreadTitle(sixty, std::nullopt, "app"), std::string(53, 'x') + "...");
    EXPECT_EQ(normalizedThreadTitle(std::string(56, 'y'), std::nullopt, "app"), std::string(56, 'y'));
    // Family emoji and combining marks count as one character each.
    std::string emoji;
    for (int i = 0; i < 56; ++i)
        emoji += "👨‍👩‍👧";
    EXPECT_EQ(normalizedThreadTitle(emoji, std::nullopt, "app"), emoji);
    std::string accents;
    for (int i = 0; i < 60; ++i)
        accents += "e\u0301";
    std::string expected;
    for (int i = 0; i < 53; ++i)
        expected += "e\u0301";
    EXPECT_EQ(normalizedThreadTitle(accents, std::nullopt, "app"), expected + "...");
    EXPECT_EQ(normalizedPreview("Same", "Same"), std::nullopt);
    EXPECT_EQ(normalizedPreview(" \n ", "x"), std::nullopt);
    EXPECT_EQ(normalizedPreview(std::string(80, 'p'), "x"), std::string(69, 'p') + "...");
    EXPECT_EQ(normalizedSingleLineText("a\r\nb\t\tc  \u2028 d "), "a b c d");
    EXPECT_EQ(normalizedSingleLineText(std::nullopt), "");
}

TEST(ThreadsTest, NewestFirstThenTheCurrentFolderThenTitle) {
    const auto at = [](int64_t seconds) {
        return std::optional(
            std::chrono::system_clock::time_point(std::chrono::milliseconds(seconds * 1000 + 300)));
    };
    const std::vector<CodexThreadRecord> records = {
        {.id = "undated", .cwd = "/w/a", .title = "Undated"},
        {.id = "b-other", .cwd = "/w/b", .title = "beta", .updatedAt = at(100)},
        {.id = "a-other", .cwd = "/w/b", .title = "Alpha", .updatedAt = at(100)},
        {.id = "here", .cwd = "/w/a", .title = "zulu", .updatedAt = at(100)},
        {.id = "newest", .cwd = "/w/b", .title = "n", .firstUserMessage = "n", .updatedAt = at(200)},
    };
    const auto payloads = threadPayloads(records, "/w/a");
    std::vector<std::string> ids;
    for (const auto& payload : payloads)
        ids.push_back(payload.threadID);
    EXPECT_EQ(ids, (std::vector<std::string>{"newest", "here", "a-other", "b-other", "undated"}));
    EXPECT_EQ(payloads[0].updatedAt, "1970-01-01T00:03:20Z");
    EXPECT_FALSE(payloads[0].preview.has_value());
    EXPECT_EQ(payloads[0].projectName, "b");
    EXPECT_FALSE(payloads[4].updatedAt.has_value());
}

TEST(ThreadsTest, TranscriptsReadBothLogFormatsAndKeepTheLast40) {
    std::string log;
    const auto line = [](const nlohmann::json& entry) { return entry.dump() + "\n"; };
    for (int i = 0; i < 55; ++i)
        log += line({{"timestamp", "2026-12-08T00:00:00Z"},
                     {"type", "event_msg"},
                     {"payload",
                      {{"type", i % 2 ? "agent_message" : "user_message"},
                       {"message", std::string("m").append(std::to_string(i))}}}});
    log += line({{"type", "response_item"}, {"payload", {{"type", "user_message"}, {"message", "ignored"}}}});
    log += line({{"type", "event_msg"}, {"payload", {{"type", "token_count"}, {"message", "ignored"}}}});
    log += line(
        {{"timestamp", "2026-12-08T00:28:36.535Z"},
         {"type", "event_msg"},
         {"payload",
          {{"type", "item_completed"},
           {"item", {{"type", "UserMessage"}, {"content", {{{"type", "text"}, {"text", "Say\nhello"}}}}}}}}});
    log += line({{"timestamp", "bad"},
                 {"type", "event_msg"},
                 {"payload",
                  {{"type", "item_completed"},
                   {"item", {{"type", "AgentMessage"}, {"content", {{{"text", "Hi"}}}}}}}}});
    log += line({{"type", "event_msg"},
                 {"payload", {{"type", "item_completed"}, {"item", {{"type", "Reasoning"}}}}}});
    log += "not json\n";
    const auto messages = parseSessionTranscript(log);
    ASSERT_EQ(messages.size(), 40u);
    EXPECT_EQ(messages[0].text, "m17");
    EXPECT_EQ(messages[37].text, "m54");
    EXPECT_EQ(messages[38].role, "user");
    EXPECT_EQ(messages[38].text, "Say hello");
    ASSERT_TRUE(messages[38].timestamp.has_value());
    EXPECT_EQ(messages[39].role, "assistant");
    EXPECT_FALSE(messages[39].timestamp.has_value());
}

TEST(ThreadsTest, ALogLongerThanItsCapGivesItsNewestMessages) {
    kestro::testing::TemporaryFolder home;
    const auto message = [](const std::string& type, const std::string& text) {
        return nlohmann::json{{"type", "event_msg"}, {"payload", {{"type", type}, {"message", text}}}}
                   .dump() +
               "\n";
    };
    // A command's whole output between the two messages puts the first one out of reach.
    const std::string output =
        nlohmann::json{{"type", "response_item"},
                       {"payload", {{"output", std::string(kSessionTranscriptCap, 'o')}}}}
            .dump() +
        "\n";
    home.write(".codex/sessions/2026/12/08/rollout-2026-12-08T00-00-00-thread-42.jsonl",
               message("user_message", "first") + output + message("user_message", "Run it") +
                   message("agent_message", "Done"));
    const auto history = threadHistoryPayload("thread-42", home.path());
    ASSERT_EQ(history.messages.size(), 2u);
    EXPECT_EQ(history.messages[0].text, "Run it");
    EXPECT_EQ(history.messages[1].text, "Done");
}
