// splitText, above all the LIST word selection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/SplitText.h"

namespace corvel {
namespace {

using Words = std::vector<std::string>;

Words split(const std::string& text, const char* delimiters, bool skipEmpty, int cuts) {
    Words words;
    splitText(text, delimiters, skipEmpty, cuts, words);
    return words;
}

TEST(SplitText, PicksTheWordsOfListCommands) {
    EXPECT_EQ(split("LIST ", " ", true, 3), (Words{"LIST"}));
    EXPECT_EQ(split("LIST -l", " ", true, 3), (Words{"LIST", "-l"}));
    EXPECT_EQ(split("LIST pub", " ", true, 3), (Words{"LIST", "pub"}));
    EXPECT_EQ(split("LIST -la pub", " ", true, 3), (Words{"LIST", "-la", "pub"}));
    EXPECT_EQ(split("LIST -l -a pub", " ", true, 3), (Words{"LIST", "-l", "-a", "pub"}));
}

TEST(SplitText, KeepsTheRestAfterTheLastCutWithItsDelimiters) {
    EXPECT_EQ(split("LIST -l -a my dir", " ", true, 3), (Words{"LIST", "-l", "-a", "my dir"}));
    EXPECT_EQ(split("a b c", " ", true, 0), (Words{"a b c"}));
    EXPECT_EQ(split("a b c", " ", true, -2), (Words{"a b c"}));
}

TEST(SplitText, AnEmptyPieceUsesACutEvenWhenSkipped) {
    EXPECT_EQ(split("LIST  a b c", " ", true, 3), (Words{"LIST", "a", "b c"}));
    EXPECT_EQ(split("   x", " ", true, 3), (Words{"x"}));
    EXPECT_EQ(split("    x", " ", true, 3), (Words{" x"}));
}

TEST(SplitText, KeepsEmptyPiecesWhenAsked) {
    EXPECT_EQ(split("a,,b,", ",", false, 10), (Words{"a", "", "b", ""}));
    EXPECT_EQ(split("a,,b,", ",", true, 10), (Words{"a", "b"}));
}

TEST(SplitText, CutsAtAnyOfTheDelimiterCharacters) {
    EXPECT_EQ(split("a b\tc;d", " \t;", true, 10), (Words{"a", "b", "c", "d"}));
}

TEST(SplitText, OnlyDelimitersGiveNoPiecesWhenSkippingWithinTheCuts) {
    EXPECT_EQ(split("   ", " ", true, 3), (Words{}));
    // A fourth space is left in the rest, which is then not empty.
    EXPECT_EQ(split("    ", " ", true, 3), (Words{" "}));
}

TEST(SplitText, EmptyTextLeavesTheListAsItWas) {
    Words words{"old"};
    splitText("", " ", true, 3, words);
    EXPECT_EQ(words, (Words{"old"}));
}

TEST(SplitText, OtherTextFirstEmptiesTheList) {
    Words words{"old", "older"};
    splitText("new", " ", true, 3, words);
    EXPECT_EQ(words, (Words{"new"}));
    splitText(" ", " ", true, 3, words);
    EXPECT_EQ(words, (Words{}));
}

}  // namespace
}  // namespace corvel
