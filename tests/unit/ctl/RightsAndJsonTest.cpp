// Rights words to bits and back, and the JSON text of corvelctl's --json output.
#include <gtest/gtest.h>

#include "common/Permissions.h"
#include "ctl/JsonWriter.h"
#include "ctl/Rights.h"

namespace corvel {
namespace {

TEST(RightsWords, MapToTheirPermissionBits) {
    const struct {
        const char* list;
        std::uint32_t bits;
    } cases[] = {
        {"read", PERM_READ_FILE},
        {"write", PERM_WRITE_FILE},
        {"create", PERM_CREATE_FILE},
        {"delete", PERM_REMOVE_FILE},
        {"list", PERM_LIST},
        {"mkdir", PERM_CREATE_DIR},
        {"rmdir", PERM_REMOVE_DIR},
        {"exec", PERM_EXECUTE},
        {"list,read", 131074},  // the console's default
        {" read , list ", PERM_READ_FILE | PERM_LIST},
        {"all", 0x7001F},
        {"read,all", 0x7001F},
        {"none", 0},
        {"read,0x100", PERM_READ_FILE | 0x100},
    };
    for (const auto& c : cases) {
        const ParsedRights parsed = parseRights(c.list);
        ASSERT_TRUE(parsed.bits) << c.list << ": " << parsed.error;
        EXPECT_EQ(*parsed.bits, c.bits) << c.list;
    }
}

TEST(RightsWords, UnknownOrEmptyWordsAreRefusedByName) {
    for (const char* list : {"", " ", "read,,list", "read,", "Read", "reads", "0x", "0xZZ", "0x123456789"}) {
        const ParsedRights parsed = parseRights(list);
        EXPECT_FALSE(parsed.bits) << list;
        EXPECT_FALSE(parsed.error.empty());
    }
    EXPECT_NE(parseRights("read,fly").error.find("'fly'"), std::string::npos);
}

TEST(RightsWords, ShowEveryBitAndReadBackToTheSameValue) {
    EXPECT_EQ(rightsText(131074), "read,list");
    EXPECT_EQ(rightsText(0x7001F), "all");
    EXPECT_EQ(rightsText(0), "none");
    EXPECT_EQ(rightsText(PERM_WRITE_FILE | 0x100), "write,0x100");
    EXPECT_EQ(rightsText(0xFFFFFFFF), "all,0xfff8ffe0");
    for (std::uint32_t bits : {0u, 1u, 131074u, 0x7001Fu, 0x100u, 0x80000000u, 0xFFFFFFFFu, 0x10005u}) {
        const ParsedRights back = parseRights(rightsText(bits));
        ASSERT_TRUE(back.bits) << rightsText(bits);
        EXPECT_EQ(*back.bits, bits) << rightsText(bits);
    }
}

TEST(JsonText, EscapesQuotesBackslashesAndControlCharacters) {
    EXPECT_EQ(jsonQuoted("plain"), "\"plain\"");
    EXPECT_EQ(jsonQuoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonQuoted("l1\r\nl2\t"), "\"l1\\r\\nl2\\t\"");
    EXPECT_EQ(jsonQuoted(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
    EXPECT_EQ(jsonQuoted(std::string("a\0b", 3)), "\"a\\u0000b\"");
}

TEST(JsonText, KeepsValidUtf8AndWritesEveryOtherByteAsItsCode) {
    EXPECT_EQ(jsonQuoted("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\"");
    const struct {
        const char* bytes;
        const char* json;
    } invalid[] = {
        {"caf\xE9", "\"caf\\u00e9\""},                       // Latin-1
        {"\xC3", "\"\\u00c3\""},                             // cut short at the end
        {"\xC3(", "\"\\u00c3(\""},                           // cut short by ASCII
        {"\xC0\xAF", "\"\\u00c0\\u00af\""},                  // overlong '/'
        {"\xE0\x80\xAF", "\"\\u00e0\\u0080\\u00af\""},       // overlong, three bytes
        {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},       // a surrogate
        {"\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // past U+10FFFF
        {"\xFF\xFE", "\"\\u00ff\\u00fe\""},
        {"\x80" "a", "\"\\u0080a\""},                         // a lone continuation byte
    };
    for (const auto& c : invalid) EXPECT_EQ(jsonQuoted(c.bytes), c.json) << c.json;
}

TEST(JsonText, PlacesCommasBetweenMembersAndElementsAtEveryDepth) {
    JsonWriter json;
    json.beginObject().key("a").number(-1).key("list").beginArray();
    json.string("x").beginObject().endObject().beginArray().endArray().null().boolean(true);
    json.endArray().key("o").beginObject().key("k").boolean(false).endObject().endObject();
    EXPECT_EQ(json.text(), "{\"a\":-1,\"list\":[\"x\",{},[],null,true],\"o\":{\"k\":false}}");
    JsonWriter empty;
    empty.beginArray().endArray();
    EXPECT_EQ(empty.text(), "[]");
}

}  // namespace
}  // namespace corvel
