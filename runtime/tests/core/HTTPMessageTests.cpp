#include "core/HTTPMessage.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

using namespace kestro;

TEST(HTTPMessageTest, ARequestWithoutHeadersIsCompleteAtTheBlankLine) {
    const ParseResult result = parseRequest("GET /status HTTP/1.1\r\n\r\n");
    ASSERT_EQ(result.outcome, ParseOutcome::complete);
    EXPECT_EQ(result.request.method, "GET");
    EXPECT_EQ(result.request.path, "/status");
    EXPECT_TRUE(result.request.headers.empty());
    EXPECT_EQ(result.request.body, "");
}

TEST(HTTPMessageTest, WaitsUntilTheHeadAndBodyAreIn) {
    const std::string full = "POST /run HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody";
    for (size_t cut = 0; cut < full.size(); ++cut)
        EXPECT_EQ(parseRequest(full.substr(0, cut)).outcome, ParseOutcome::incomplete) << cut;
    const ParseResult result = parseRequest(full + "GET /next HTTP/1.1\r\n\r\n");
    ASSERT_EQ(result.outcome, ParseOutcome::complete);
    EXPECT_EQ(result.request.body, "body");
}

TEST(HTTPMessageTest, HeaderNamesAreLowerCasedAndValuesTrimmed) {
    const ParseResult result = parseRequest(
        "GET /status?x=1 HTTP/1.1\r\nX-Kestro-Token:abc\r\nCONTENT-LENGTH:  0 \r\nno colon here\r\n"
        "x-dup: one\r\nX-Dup: two\r\n\r\n");
    ASSERT_EQ(result.outcome, ParseOutcome::complete);
    EXPECT_EQ(result.request.path, "/status?x=1");
    EXPECT_EQ(result.request.headers.at("x-kestro-token"), "abc");
    EXPECT_EQ(result.request.headers.at("content-length"), "0");
    EXPECT_EQ(result.request.headers.at("x-dup"), "two");
    EXPECT_EQ(result.request.headers.size(), 3u);
}

TEST(HTTPMessageTest, UnreadableOrNegativeLengthsMeanNoBody) {
    for (const std::string length : {"abc", "-5", "1.5", ""}) {
        const ParseResult result =
            parseRequest("POST /status HTTP/1.1\r\nContent-Length: " + length + "\r\n\r\nextra");
        ASSERT_EQ(result.outcome, ParseOutcome::complete) << length;
        EXPECT_EQ(result.request.body, "");
    }
}

TEST(HTTPMessageTest, RequestLinesNeedTwoWordsAndBareLineFeedsNeverComplete) {
    EXPECT_EQ(parseRequest("GET /status HTTP/1.1\n\n").outcome, ParseOutcome::incomplete);
    const ParseResult spaced = parseRequest("GET   /status\r\n\r\n");
    ASSERT_EQ(spaced.outcome, ParseOutcome::complete);
    EXPECT_EQ(spaced.request.path, "/status");
}

// The head is read once it is whole, before any of the body: where the body is, and how long.
TEST(HTTPMessageTest, TheHeadIsReadBeforeItsBody) {
    const std::string head = "POST /run HTTP/1.1\r\nContent-Length: 10\r\n\r\n";
    const HeadResult parsed = parseHead(head + "01234");
    ASSERT_EQ(parsed.outcome, ParseOutcome::complete);
    EXPECT_EQ(parsed.head.request.path, "/run");
    EXPECT_EQ(parsed.head.request.body, "");
    EXPECT_EQ(parsed.head.bodyStart, head.size());
    EXPECT_EQ(parsed.head.bodyLength, 10u);
    // Searched on from where an earlier search ended, an end of head split across two pieces is found.
    EXPECT_EQ(parseHead(head, head.size() - 2).outcome, ParseOutcome::complete);
    EXPECT_EQ(parseHead(head.substr(0, head.size() - 2), 0).outcome, ParseOutcome::incomplete);
}

namespace {

// The status and error message a refused request is answered with; absent when not refused.
std::optional<std::pair<int, std::string>> refusal(const std::string& bytes) {
    const ParseResult result = parseRequest(bytes);
    if (result.outcome != ParseOutcome::refused) return std::nullopt;
    return std::pair{result.refusal.status,
                     nlohmann::json::parse(result.refusal.body)["error"].get<std::string>()};
}

} // namespace

TEST(HTTPMessageTest, OversizedHeadsAndBodiesAreRefused) {
    const std::pair<int, std::string> tooLarge{400, "Request too large."};
    EXPECT_EQ(refusal("GET /status HTTP/1.1\r\nX: " + std::string(kMaximumHeadBytes, 'a')), tooLarge);
    EXPECT_EQ(refusal("GET /status HTTP/1.1\r\nX: " + std::string(kMaximumHeadBytes, 'a') + "\r\n\r\n"),
              tooLarge);
    EXPECT_EQ(refusal("POST /run HTTP/1.1\r\nContent-Length: 8388609\r\n\r\n"), tooLarge);
    EXPECT_EQ(refusal("POST /run HTTP/1.1\r\nContent-Length: 99999999999999999999999\r\n\r\n"), tooLarge);
    EXPECT_EQ(parseRequest("POST /run HTTP/1.1\r\nContent-Length: 8388608\r\n\r\n").outcome,
              ParseOutcome::incomplete);
}

// A continuation line would otherwise be read as a header of its own (here a token), and a
// chunked body as no body at all; both are refused as soon as the head is in.
TEST(HTTPMessageTest, ContinuationLinesAndTransferCodingsAreRefused) {
    const auto folded = std::pair{400, std::string("Malformed request.")};
    EXPECT_EQ(refusal("GET /status HTTP/1.1\r\nX-Note: a\r\n X-Kestro-Token: t\r\n\r\n"), folded);
    EXPECT_EQ(refusal("GET /status HTTP/1.1\r\nX-Note: a\r\n\tmore\r\n\r\n"), folded);
    // A head that can never become a request is answered, not waited on while it fills the buffer.
    EXPECT_EQ(refusal("GET\r\n\r\n"), folded);
    EXPECT_EQ(refusal("X\r\n\r\n" + std::string(1000, 'x')), folded);
    for (const std::string coding : {"chunked", "gzip, chunked", ""}) {
        const auto answer =
            refusal("POST /run HTTP/1.1\r\nTransfer-Encoding: " + coding + "\r\nContent-Length: 100\r\n\r\n");
        ASSERT_TRUE(answer) << coding;
        EXPECT_EQ(answer->first, 501);
        EXPECT_EQ(reasonPhrase(answer->first), "Error");
    }
}

TEST(HTTPMessageTest, InvalidUTF8InTheHeadIsReplaced) {
    const ParseResult result = parseRequest("GET /st\xFFus HTTP/1.1\r\n\r\n");
    ASSERT_EQ(result.outcome, ParseOutcome::complete);
    EXPECT_EQ(result.request.path, "/st\uFFFDus");
}

TEST(HTTPMessageTest, ResponsesAreFramedWithLengthAndClose) {
    EXPECT_EQ(serializedResponse(
                  {.status = 404, .contentType = "application/json", .body = R"({"error":"Not Found"})"}),
              "HTTP/1.1 404 Not Found\r\nContent-Type: application/json\r\nContent-Length: 21\r\n"
              "Connection: close\r\nAccess-Control-Allow-Origin: *\r\n\r\n{\"error\":\"Not Found\"}");
    EXPECT_EQ(reasonPhrase(200), "OK");
    EXPECT_EQ(reasonPhrase(401), "Unauthorized");
    EXPECT_EQ(reasonPhrase(500), "Error");
    EXPECT_EQ(eventStreamHead(),
              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
              "Connection: close\r\nAccess-Control-Allow-Origin: *\r\n\r\n");
}

TEST(HTTPMessageTest, ErrorBodiesEscapeTheMessage) {
    EXPECT_EQ(errorBody("Unauthorized request."), R"({"error":"Unauthorized request."})");
    const std::string body = errorBody("fatal: \"x\" \\ bad\nline\ttab");
    EXPECT_EQ(nlohmann::json::parse(body)["error"], "fatal: \"x\" \\ bad\nline\ttab");
}
