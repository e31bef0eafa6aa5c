// Text helpers of the web browser: credentials, form values, links, escaping.
#include <gtest/gtest.h>

#include "web/HttpText.h"

namespace corvel {
namespace {

TEST(ExtractBetween, FollowsTheMarkerRules) {
    EXPECT_EQ(extractBetween("GET /a b", "GET /", " "), "a");
    EXPECT_EQ(extractBetween("GET /abc", "GET /", " "), "abc");  // no end marker after start
    EXPECT_EQ(extractBetween("get /abc x", "GET /", " "), "");   // start marker case-sensitive
    EXPECT_EQ(extractBetween("user:pass", "", ":"), "user");
    EXPECT_EQ(extractBetween("user", "", ":"), "user");
    EXPECT_EQ(extractBetween("a:b:c", ":", ""), "b:c");
    EXPECT_EQ(extractBetween("", "x", ""), "");
    // The end marker is searched only after the start marker.
    EXPECT_EQ(extractBetween("x y START a y", "START ", " "), "a");
}

TEST(DecodeBase64, DecodesStandardTextAndSkipsForeignCharacters) {
    EXPECT_EQ(decodeBase64("YWxpY2U6c2VjcmV0"), "alice:secret");
    EXPECT_EQ(decodeBase64("YQ=="), "a");
    EXPECT_EQ(decodeBase64("Y Q = = !"), "a");
    EXPECT_EQ(decodeBase64("YWI"), "ab");  // leftover bits dropped
    EXPECT_EQ(decodeBase64("Y"), "");
    EXPECT_EQ(decodeBase64(""), "");
    EXPECT_EQ(decodeBase64("+/+/"), "\xFB\xFF\xBF");
    EXPECT_EQ(decodeBase64("AAAA"), std::string(3, '\0'));
}

TEST(DecodeBase64, OutputIsBoundedByInputOnHostileText) {
    std::string hostile;
    for (int i = 0; i < 5000; ++i) hostile.push_back(static_cast<char>(i * 37));
    EXPECT_LE(decodeBase64(hostile).size(), hostile.size());
}

TEST(TrimHttpLine, StripsSpacesTabsAndLineEnds) {
    EXPECT_EQ(trimHttpLine(" \t GET / \r\n"), "GET /");
    EXPECT_EQ(trimHttpLine("\r\n"), "");
    EXPECT_EQ(trimHttpLine("\n\r \t"), "");
    EXPECT_EQ(trimHttpLine("a\vb"), "a\vb");
}

TEST(PercentDecode, DecodesOncePlusAndLeavesBadEscapes) {
    auto decoded = [](std::string text) {
        percentDecode(text);
        return text;
    };
    EXPECT_EQ(decoded("a+b%20c"), "a b c");
    EXPECT_EQ(decoded("%2B"), "+");
    EXPECT_EQ(decoded("%25"), "%");
    EXPECT_EQ(decoded("%2525"), "%25");  // produced bytes are not looked at again
    EXPECT_EQ(decoded("%zz%4"), "%zz%4");
    EXPECT_EQ(decoded("%"), "%");
    EXPECT_EQ(decoded("100%"), "100%");
    EXPECT_EQ(decoded("%6a%6A"), "jj");
    EXPECT_EQ(decoded("%00x"), std::string("\0x", 2));
}

TEST(GetQueryParam, FindsTheFirstOccurrenceAnywhere) {
    EXPECT_EQ(getQueryParam("path=docs&", "path"), "docs");
    EXPECT_EQ(getQueryParam("path=&", "path"), "");
    // A NUL cuts the designed value; the bytes variant keeps it, so a file name is whole.
    EXPECT_EQ(getQueryParam("path=f.bin%00.txt&", "path"), "f.bin");
    EXPECT_EQ(getQueryParamBytes("path=f.bin%00.txt&", "path"), std::string("f.bin\0.txt", 10));
    EXPECT_EQ(getQueryParamBytes("x=1&", "path"), std::nullopt);
    EXPECT_EQ(getQueryParam("x=1&path=a%2Fb+c&", "path"), "a/b c");
    EXPECT_EQ(getQueryParam("xpath=a&", "path"), "a");  // matched inside another name
    EXPECT_EQ(getQueryParam("path=a", "path"), "a");    // no closing '&'
    EXPECT_FALSE(getQueryParam("&", "path"));
    EXPECT_FALSE(getQueryParam("path", "path"));
    // The first occurrence decides, even when a later one would fit.
    EXPECT_FALSE(getQueryParam("new_pwd_confirm=a&new_pwd=a", "new_pwd"));
    EXPECT_EQ(getQueryParam("new_pwd=a&new_pwd_confirm=b", "new_pwd_confirm"), "b");
    EXPECT_EQ(getQueryParam("path=ab%00cd&", "path"), "ab");  // cut at the first NUL
}

TEST(EncodeLinkPath, EncodesEveryByte) {
    EXPECT_EQ(encodeLinkPath("docs/a b"), "%64%6F%63%73%2F%61%20%62");
    EXPECT_EQ(encodeLinkPath(""), "");
    EXPECT_EQ(encodeLinkPath(std::string("\0\xFF\"<", 4)), "%00%FF%22%3C");
}

TEST(EncodeLinkPath, RoundTripsThroughPercentDecode) {
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    std::string link = encodeLinkPath(all);
    EXPECT_EQ(link.find_first_not_of("%0123456789ABCDEF"), std::string::npos);
    percentDecode(link);
    EXPECT_EQ(link, all);
}

TEST(HtmlEscape, NeutralisesMarkup) {
    EXPECT_EQ(htmlEscape("<script>alert('x')</script> & \"q\""),
              "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;");
    EXPECT_EQ(htmlEscape("plain name.txt"), "plain name.txt");
}

TEST(AsciiLower, LowersOnlyCapitals) {
    EXPECT_EQ(asciiLower("Report.PDF"), "report.pdf");
    EXPECT_EQ(asciiLower("\xC4\xD6[@]"), "\xC4\xD6[@]");
}

}  // namespace
}  // namespace corvel
