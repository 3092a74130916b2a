#include "text/Text.h"
#include "text/TextPatterns.h"
#include "text/TimeText.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace kestro;

TEST(TextTest, TrimsUnicodeSpaceAndLineBreaksAtBothEndsOnly) {
    EXPECT_EQ(trimmed("  a b \r\n"), "a b");
    EXPECT_EQ(trimmed("\u00A0\u2028x\u3000\t"), "x");
    EXPECT_EQ(trimmed(" \n\t "), "");
    EXPECT_EQ(trimmed("é"), "é");
}

TEST(TextTest, DecodesInvalidUTF8WithReplacementCharacters) {
    EXPECT_EQ(decodeUTF8Lossy(std::string("a\xFF"
                                          "b",
                                          3)),
              "a\uFFFDb");
    EXPECT_EQ(decodeUTF8Lossy("ok\n"), "ok\n");
}

TEST(TextTest, ControlCharactersAreWrittenAsVisibleEscapesOrDropped) {
    // ESC, BEL, DEL, C1 CSI (as UTF-8 and as a lone byte), a line separator, and invalid bytes.
    const std::string hostile = "a\x1b]0;t\a\x7f\u009b2J\n\r\t\u2028\xff\x9b\"\\ é";
    EXPECT_EQ(escapedControlCharacters(hostile),
              "a\\u001b]0;t\\u0007\\u007f\\u009b2J\\n\\r\\t\\u2028\\xff\\x9b\"\\ é");
    EXPECT_EQ(quotedForMessage("x\x1b\"\\"), "\"x\\u001b\\\"\\\\\"");
    EXPECT_EQ(withoutControlCharacters(hostile), "a]0;t2J\"\\ é");
    // A character cut short is escaped byte by byte, and what follows it is kept.
    EXPECT_EQ(escapedControlCharacters("\xe2\x82z"), "\\xe2\\x82z");
    EXPECT_TRUE(isValidUTF8("é\u2028"));
    EXPECT_FALSE(isValidUTF8("\xe2\x82"));
}

TEST(TextTest, CaseMappingAndContainment) {
    EXPECT_EQ(lowercased("Lab's MÄC"), "lab's mäc");
    EXPECT_TRUE(containsCaseInsensitive("Computer-Use-Mac", "computer-use"));
    EXPECT_FALSE(containsCaseInsensitive("computer use", "computer-use"));
}

TEST(TextTest, SplitsAtEveryLineBreakCharacter) {
    EXPECT_EQ(splitLines("a\nb\r\nc\u2028d"), (std::vector<std::string>{"a", "b", "", "c", "d"}));
    EXPECT_EQ(splitOn("a::b::", "::"), (std::vector<std::string>{"a", "b", ""}));
}

TEST(TextTest, PatternsReportGroupsThatDidNotTakePart) {
    TextPattern pattern(R"re((?m)^model\s*=\s*(?:"([^"]+)"|([^\n#]+)))re");
    const auto match = pattern.firstMatch("x = 1\nmodel = fast # note\n");
    ASSERT_TRUE(match);
    EXPECT_FALSE(match->group(1).has_value());
    EXPECT_EQ(match->group(2), "fast ");
    EXPECT_EQ(pattern.allMatches("model=\"a\"\nmodel = b").size(), 2u);
    EXPECT_THROW(TextPattern("("), std::invalid_argument);
}

TEST(TextTest, TimesBeyondTheSystemClockAreAbsentNotWrapped) {
    // Found by fuzzing: year 1013 overflowed the clock's nanoseconds (undefined behaviour).
    EXPECT_FALSE(parseIsoTimeText("1013-12-08T00:00:01.250Z").has_value());
    EXPECT_FALSE(parseIsoTimeText("9999-12-31T23:59:59Z").has_value());
    EXPECT_EQ(isoTimeText(*parseIsoTimeText("1700-01-01T00:00:00Z")), "1700-01-01T00:00:00Z");
    EXPECT_EQ(isoTimeText(*parseIsoTimeText("2200-06-01T12:00:00.5Z")), "2200-06-01T12:00:00Z");
    EXPECT_FALSE(timeFromMilliseconds(9.5e15).has_value());
    EXPECT_FALSE(timeFromMilliseconds(-1e16).has_value());
    EXPECT_EQ(isoTimeText(*timeFromMilliseconds(1767225600000.0)), "2026-01-01T00:00:00Z");
    EXPECT_FALSE(timeFromSeconds(1e13).has_value());
    EXPECT_FALSE(timeFromSeconds(std::nan("")).has_value());
}

TEST(TextTest, TimeTextsAreWholeSecondsInUTC) {
    using namespace std::chrono;
    const auto time =
        sys_days{year{2026} / 12 / 7} + hours{1} + minutes{27} + seconds{50} + milliseconds{999};
    EXPECT_EQ(isoTimeText(time), "2026-12-07T01:27:50Z");
}

#include "text/TextCollation.h"

TEST(TextTest, DisplayOrderIgnoresCase) {
    EXPECT_LT(compareForDisplay("apple", "Banana"), 0);
    EXPECT_GT(compareForDisplay("Zed", "alpha"), 0);
    EXPECT_EQ(compareForDisplay("apple", "APPLE"), 0);
    EXPECT_EQ(capitalizedWords("team  plan"), "Team  Plan");
    EXPECT_EQ(capitalizedWord("gITHUB"), "Github");
}
