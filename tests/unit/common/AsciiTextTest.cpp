#include "common/AsciiText.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

TEST(AsciiText, OnlyAsciiLettersFoldAndLengthsMustAgree) {
    EXPECT_TRUE(equalsIgnoringAsciiCase("abor", "ABOR"));
    EXPECT_TRUE(equalsIgnoringAsciiCase("unix.MODE", "Unix.mode"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("ABOR", "ABORT"));
    EXPECT_FALSE(equalsIgnoringAsciiCase(std::string_view("AB\0R", 4), "ABOR"));
    // Latin-1 and UTF-8 letters never match: a locale's toupper would fold 0xE4 to 0xC4.
    EXPECT_FALSE(equalsIgnoringAsciiCase("\xE4", "\xC4"));
    EXPECT_FALSE(equalsIgnoringAsciiCase("@", "`"));  // the bytes beside 'A' and 'a'
    EXPECT_TRUE(startsWithIgnoringAsciiCase("content-length: 5", "Content-Length:"));
    EXPECT_FALSE(startsWithIgnoringAsciiCase("Host", "Host:"));
    EXPECT_EQ(asciiUpper("tls-c \xE4{`"), "TLS-C \xE4{`");
    EXPECT_EQ(asciiLower("AUTH \xC4[@"), "auth \xC4[@");
}

}  // namespace
}  // namespace corvel
