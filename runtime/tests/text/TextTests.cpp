#include "text/Text.h"
#include "text/TextPatterns.h"
#include "text/TimeText.h"

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
