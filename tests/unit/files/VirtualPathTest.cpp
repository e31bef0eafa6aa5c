// VirtualPath parsing and pop-last on the documented examples and hostile inputs.
#include <gtest/gtest.h>

#include <string>

#include "files/VirtualPath.h"

namespace corvel {
namespace {

TEST(VirtualPath, NormalisesDotsEmptyNamesAndTrailingSeparators) {
    VirtualPath p = VirtualPath::parse("/a/./b//c/", '/');
    EXPECT_TRUE(p.valid());
    EXPECT_FALSE(p.escaped());
    EXPECT_EQ(p.joined(), "a/b/c");
    EXPECT_EQ(p.components(), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(p.separator(), '/');
}

TEST(VirtualPath, TakesBothSeparatorsInAnyMix) {
    EXPECT_EQ(VirtualPath::parse("x\\a\\b/../c", '/').joined(), "x/a/c");
    EXPECT_EQ(VirtualPath::parse("a/b\\c", '\\').joined(), "a\\b\\c");
}

TEST(VirtualPath, JoinsWithTheChosenSeparatorAndNothingAround) {
    VirtualPath p = VirtualPath::parse("\\\\a\\b\\\\", '\\');
    EXPECT_EQ(p.joined(), "a\\b");
}

TEST(VirtualPath, EmptyTextAndOnlySeparatorsAreTheRoot) {
    for (const char* text : {"", "/", "\\", "////", "/\\/\\", "./.", "/./\\./"}) {
        VirtualPath p = VirtualPath::parse(text, '/');
        EXPECT_TRUE(p.valid()) << text;
        EXPECT_FALSE(p.escaped()) << text;
        EXPECT_TRUE(p.components().empty()) << text;
        EXPECT_EQ(p.joined(), "") << text;
    }
}

TEST(VirtualPath, DotDotAtTheRootSetsEscapedAndParsingGoesOn) {
    VirtualPath p = VirtualPath::parse("..", '/');
    EXPECT_TRUE(p.valid());
    EXPECT_TRUE(p.escaped());
    EXPECT_EQ(p.joined(), "");

    VirtualPath q = VirtualPath::parse("/a/../../b", '/');
    EXPECT_TRUE(q.escaped());
    EXPECT_EQ(q.joined(), "b");

    VirtualPath r = VirtualPath::parse("../..", '/');
    EXPECT_TRUE(r.escaped());
    EXPECT_EQ(r.joined(), "");
}

TEST(VirtualPath, DotDotInsideTheTreeDoesNotEscape) {
    VirtualPath p = VirtualPath::parse("a/b/../../c/..", '/');
    EXPECT_FALSE(p.escaped());
    EXPECT_EQ(p.joined(), "");
}

TEST(VirtualPath, ThreeDotsAndTrailingDotsAreOrdinaryNames) {
    VirtualPath p = VirtualPath::parse("/.../a./..a/.b/C:", '/');
    EXPECT_FALSE(p.escaped());
    EXPECT_EQ(p.components(), (std::vector<std::string>{"...", "a.", "..a", ".b", "C:"}));
    // "..." never climbs, however often it appears.
    VirtualPath q = VirtualPath::parse("..././...", '/');
    EXPECT_FALSE(q.escaped());
    EXPECT_EQ(q.joined(), ".../...");
}

TEST(VirtualPath, ComparesDotNamesExactly) {
    // ". ." and ".. " are names (with spaces), not dot entries.
    VirtualPath p = VirtualPath::parse(".. /. .", '/');
    EXPECT_FALSE(p.escaped());
    EXPECT_EQ(p.components(), (std::vector<std::string>{".. ", ". ."}));
}

TEST(VirtualPath, AcceptsExactly4095Characters) {
    std::string text(4095, 'a');
    VirtualPath p = VirtualPath::parse(text, '/');
    EXPECT_TRUE(p.valid());
    EXPECT_EQ(p.joined(), text);

    std::string separators(4095, '/');
    EXPECT_TRUE(VirtualPath::parse(separators, '/').valid());
}

TEST(VirtualPath, RefusesA4096CharacterTextAndFillsNothing) {
    for (const std::string& text : {std::string(4096, 'a'), std::string(4096, '/'), "/" + std::string(4095, 'b')}) {
        VirtualPath p = VirtualPath::parse(text, '/');
        EXPECT_FALSE(p.valid());
        EXPECT_FALSE(p.escaped());
        EXPECT_TRUE(p.components().empty());
        EXPECT_EQ(p.joined(), "");
    }
}

TEST(VirtualPath, RefusesANulByteInsteadOfCuttingTheNameShort) {
    VirtualPath p = VirtualPath::parse(std::string("a/b\0/../../etc", 14), '/');
    EXPECT_FALSE(p.valid());
    EXPECT_TRUE(p.components().empty());
}

TEST(VirtualPath, PopLastRemovesNamesThenFailsAtTheRoot) {
    VirtualPath p = VirtualPath::parse("pub/in", '/');
    ASSERT_TRUE(p.popLast());
    EXPECT_EQ(p.joined(), "pub");
    EXPECT_FALSE(p.escaped());
    ASSERT_TRUE(p.popLast());
    EXPECT_EQ(p.joined(), "");
    EXPECT_FALSE(p.popLast());
    EXPECT_TRUE(p.escaped());
    EXPECT_EQ(p.joined(), "");
}

TEST(VirtualPath, PopLastRebuildsWithTheChosenSeparator) {
    VirtualPath p = VirtualPath::parse("a/b/c", '\\');
    ASSERT_TRUE(p.popLast());
    EXPECT_EQ(p.joined(), "a\\b");
}

}  // namespace
}  // namespace corvel
