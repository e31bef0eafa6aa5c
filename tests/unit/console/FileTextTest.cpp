// File texts in the console: any bytes go back exactly as they came, valid UTF-8
// shows as the characters it encodes.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "console/logic/FileText.h"

namespace corvel {
namespace {

TEST(FileText, ValidUtf8ShowsAsItsCharacters) {
    const std::string utf8 = "Jos\xC3\xA9 \xE2\x9C\x93 \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF end";
    EXPECT_EQ(textFromFileBytes(utf8), QString::fromUtf8(utf8));
    EXPECT_EQ(fileBytesFromText(QString::fromUtf8(utf8)), utf8);
    EXPECT_EQ(fileBytesFromText(QStringLiteral("caf\u00E9")), "caf\xC3\xA9");
}

TEST(FileText, BytesOutsideValidUtf8ComeBackUnchanged) {
    const std::vector<std::string> malformed = {
        "jos\xE9",                // a Latin-1 code page
        "\xC0\xAF", "\xE0\x80\xAF",  // overlong forms
        "\xED\xA0\x80",           // an encoded surrogate
        "\xF4\x90\x80\x80",       // past U+10FFFF
        "\xF5\x80", "\xFF\xFE",   // never lead bytes
        "\xE2\x9C", "\xF0\x9F\x98",  // cut short
        "\x80\xBF",               // continuation bytes alone
    };
    for (const std::string& bytes : malformed) {
        const QString text = textFromFileBytes(bytes);
        EXPECT_EQ(fileBytesFromText(text), bytes);
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter));
    }
    EXPECT_EQ(textFromFileBytes("a\xE9z").size(), 3);

    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 2000; ++round) {
        std::string bytes(static_cast<std::size_t>(round % 24), '\0');
        for (char& c : bytes) c = static_cast<char>(byte(random));
        ASSERT_EQ(fileBytesFromText(textFromFileBytes(bytes)), bytes);
    }
}

TEST(FileText, StrayTypedSurrogatesAreWrittenAsReplacementCharacters) {
    QString typed = QStringLiteral("a");
    typed += QChar(0xD800);  // a high half without its low half
    typed += QChar(u'b');
    typed += QChar(0xDC10);  // a low half below the escaped bytes
    EXPECT_EQ(fileBytesFromText(typed), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
}

}  // namespace
}  // namespace corvel
