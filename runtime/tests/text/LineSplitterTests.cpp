#include "text/LineSplitter.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(LineSplitterTest, SplitsAtEveryBreakAndDropsEmptyLines) {
    LineSplitter splitter;
    EXPECT_EQ(splitter.feed("a\nb\r\nc\rd\u0085e\u2028f\u2029g\n\n\nh"),
              (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(splitter.finish(), std::vector<std::string>{"h"});
    EXPECT_TRUE(splitter.finish().empty());
}

TEST(LineSplitterTest, LinesAndBreaksSplitAcrossChunksAreReassembled) {
    const std::string text = "first line\r\nsecond \u2028third\u0085fourth\n";
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        for (size_t cut2 = cut; cut2 <= text.size(); ++cut2) {
            LineSplitter splitter;
            std::vector<std::string> lines = splitter.feed(text.substr(0, cut));
            for (auto& line : splitter.feed(text.substr(cut, cut2 - cut)))
                lines.push_back(line);
            for (auto& line : splitter.feed(text.substr(cut2)))
                lines.push_back(line);
            for (auto& line : splitter.finish())
                lines.push_back(line);
            ASSERT_EQ(lines, (std::vector<std::string>{"first line", "second ", "third", "fourth"}))
                << cut << "," << cut2;
        }
    }
}

TEST(LineSplitterTest, InvalidBytesAreReplaced) {
    LineSplitter splitter;
    EXPECT_EQ(splitter.feed("a\xFF\xC2z\n"), std::vector<std::string>{"a\uFFFD\uFFFDz"});
}

TEST(LineSplitterTest, JSONLinesEndOnlyAtLineFeedsAndCarriageReturns) {
    LineSplitter json(LineBreaks::json);
    // NEL, LS and PS inside a JSON string, split across chunks, do not end the line.
    EXPECT_EQ(json.feed("{\"text\":\"a\u2028b\xE2\x80"), std::vector<std::string>{});
    EXPECT_EQ(json.feed("\xA9"
                        "c\u0085d\"}\r\n{}\n"),
              (std::vector<std::string>{"{\"text\":\"a\u2028b\u2029c\u0085d\"}", "{}"}));
    LineSplitter text;
    EXPECT_EQ(text.feed("a\u2028b\n"), (std::vector<std::string>{"a", "b"}));
}

TEST(LineSplitterTest, ALineThatNeverEndsIsCutAndTheRestOfItDropped) {
    LineSplitter splitter(LineBreaks::json, 8);
    EXPECT_EQ(splitter.feed("0123"), std::vector<std::string>{});
    EXPECT_EQ(splitter.feed("4567\n"), std::vector<std::string>{"01234567"}); // at the limit: whole
    EXPECT_EQ(splitter.feed("0123456789"), std::vector<std::string>{"01234567"});
    for (int chunk = 0; chunk < 1000; ++chunk)
        ASSERT_EQ(splitter.feed("still the same line"), std::vector<std::string>{});
    EXPECT_EQ(splitter.feed(" end\r\nnext\n"), std::vector<std::string>{"next"});
    EXPECT_EQ(splitter.feed("abcdefghijk"), std::vector<std::string>{"abcdefgh"});
    EXPECT_TRUE(splitter.finish().empty());
    EXPECT_EQ(splitter.feed("after\n"), std::vector<std::string>{"after"});
}
