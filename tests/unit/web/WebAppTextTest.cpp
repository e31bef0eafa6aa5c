// The web client's pieces that need no server: the sessions (time moved by hand),
// the text helpers, the lines the parser reads for it, and the folder view's order
// and markup.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "web/HttpRequestParser.h"
#include "web/WebApp.h"
#include "web/WebAppPages.h"
#include "web/WebAppText.h"
#include "web/WebSessions.h"

namespace corvel {
namespace {

using std::chrono::minutes;

TEST(WebSessions, ACookieIsRandomLongAndLastsWhileUsedUntilIdleOrClosed) {
    WebSessions sessions(minutes(30));
    const WebClock::time_point start{};
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        std::optional<std::string> cookie = sessions.open("alice", start);
        ASSERT_TRUE(cookie.has_value());
        EXPECT_EQ(cookie->size(), 2 * kWebSecretBytes);  // 256 bits, hex
        EXPECT_TRUE(seen.insert(*cookie).second);
    }
    std::optional<std::string> cookie = sessions.open("bob", start);
    ASSERT_TRUE(cookie);
    std::optional<WebSession> used = sessions.use(*cookie, start + minutes(29));
    ASSERT_TRUE(used);
    EXPECT_EQ(used->user, "bob");
    EXPECT_EQ(used->csrfToken.size(), 2 * kWebSecretBytes);
    EXPECT_NE(used->csrfToken, *cookie);
    // Each use restarts the idle time; 31 minutes without one ends the session.
    EXPECT_TRUE(sessions.use(*cookie, start + minutes(58)));
    EXPECT_FALSE(sessions.use(*cookie, start + minutes(89)));
    EXPECT_FALSE(sessions.use(*cookie, start + minutes(90)));  // gone, not only refused

    std::optional<std::string> other = sessions.open("carol", start);
    ASSERT_TRUE(other);
    EXPECT_FALSE(sessions.use(other->substr(1), start));  // a cookie is matched whole
    EXPECT_FALSE(sessions.use("", start));
    sessions.close(*other);
    EXPECT_FALSE(sessions.use(*other, start));
    sessions.closeAllOf("alice");
    EXPECT_EQ(sessions.size(), 0u);
}

TEST(WebSessions, ThePoolIsBoundedAndTheLeastRecentlyUsedGoesFirst) {
    WebSessions sessions(minutes(30), 3);
    const WebClock::time_point start{};
    auto a = sessions.open("a", start);
    auto b = sessions.open("b", start + minutes(1));
    auto c = sessions.open("c", start + minutes(2));
    ASSERT_TRUE(a && b && c);
    EXPECT_TRUE(sessions.use(*a, start + minutes(3)));  // b is now the least recently used
    auto d = sessions.open("d", start + minutes(4));
    ASSERT_TRUE(d);
    EXPECT_EQ(sessions.size(), 3u);
    EXPECT_FALSE(sessions.use(*b, start + minutes(4)));
    EXPECT_TRUE(sessions.use(*a, start + minutes(4)));
    EXPECT_TRUE(sessions.use(*d, start + minutes(4)));
}

TEST(WebAppText, FormFieldsAndCookiesAreFoundByTheirExactNames) {
    EXPECT_EQ(formField("xname=1&name=a%2Fb+c&", "name"), "a/b c");
    EXPECT_EQ(formField("name=&", "name"), "");
    EXPECT_FALSE(formField("names=1&name", "name"));
    EXPECT_EQ(formField("a=1&a=2", "a"), "1");  // the first one counts
    EXPECT_EQ(cookieValue("x=1; corvel_session=abc; y=2", "corvel_session"), "abc");
    EXPECT_EQ(cookieValue("xcorvel_session=abc", "corvel_session"), "");
    EXPECT_EQ(cookieValue("", "corvel_session"), "");
}

TEST(WebAppText, ANewNameIsOneNameAndCountsAreDigitsOnly) {
    for (const char* bad : {"", ".", "..", "a/b", "a\\b", "tab\there", "del\x7f"})
        EXPECT_FALSE(isSingleName(bad)) << bad;
    EXPECT_FALSE(isSingleName(std::string(256, 'x')));
    EXPECT_TRUE(isSingleName(std::string(255, 'x')));
    EXPECT_TRUE(isSingleName("Grüße März.txt"));
    EXPECT_TRUE(isSingleName("..hidden"));
    EXPECT_EQ(byteCountValue("0"), 0);
    EXPECT_EQ(byteCountValue("123456789012345678"), 123456789012345678);
    for (const char* bad : {"", "-1", "1e3", " 7", "1234567890123456789", "+1"})
        EXPECT_FALSE(byteCountValue(bad)) << bad;
}

TEST(WebAppText, NamesThatAreNoUtf8GetReplacementCharacters) {
    EXPECT_EQ(validUtf8("Grüße € 𝄞"), "Grüße € 𝄞");
    EXPECT_EQ(validUtf8("latin-\xe9.txt"), "latin-\xEF\xBF\xBD.txt");
    EXPECT_EQ(validUtf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");                  // an overlong "/"
    EXPECT_EQ(validUtf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // a surrogate
    EXPECT_EQ(validUtf8("end\xE2\x82"), "end\xEF\xBF\xBD\xEF\xBF\xBD");            // cut short
}

TEST(WebAppText, JsonDatesAndSizes) {
    EXPECT_EQ(jsonEscape("a\"b\\c\n\x01ü"), "a\\\"b\\\\c\\u000a\\u0001ü");
    EXPECT_EQ(utcDateText(0), "1970-01-01 00:00");
    EXPECT_EQ(utcDateText(951782400 + 3661), "2000-02-29 01:01");  // a leap day
    EXPECT_EQ(utcDateText(-60), "1969-12-31 23:59");
    EXPECT_EQ(humanSize(1023), "1023 B");
    EXPECT_EQ(humanSize(1536), "1.5 KiB");
    EXPECT_EQ(humanSize(std::int64_t{5} << 30), "5.0 GiB");
}

TEST(WebAppText, PartialUploadsHaveANameOfTheirOwn) {
    EXPECT_EQ(partialUploadName("a.bin"), ".a.bin.corvel-upload");
    EXPECT_TRUE(isPartialUploadName(partialUploadName("a.bin")));
    EXPECT_FALSE(isPartialUploadName("a.bin.corvel-upload"));
    EXPECT_FALSE(isPartialUploadName(".corvel-upload"));
    EXPECT_TRUE(WebApp::handles("app"));
    EXPECT_TRUE(WebApp::handles("app/login"));
    EXPECT_FALSE(WebApp::handles("apple"));
    EXPECT_FALSE(WebApp::handles("list.html"));
}

TEST(WebAppParser, CookieTokenAndAnUploadsFirstBytesOnlyWithTheClientOn) {
    const std::string put =
        "PUT /app/upload?path=a%20b&offset=0 HTTP/1.1\r\nCookie: corvel_session=abc\r\nX-CSRF-Token: tok\r\n"
        "Content-Length: 10\r\n\r\n0123456789";
    HttpRequestParser on(HttpExtensions::Off, HttpAppLines::On);
    EXPECT_EQ(on.feed(put), put.size());
    ASSERT_EQ(on.state(), HttpParse::Complete);
    EXPECT_EQ(on.request().path, "app/upload");
    EXPECT_EQ(on.request().query, "path=a%20b&offset=0&");
    EXPECT_EQ(on.request().cookie, "corvel_session=abc");
    EXPECT_EQ(on.request().csrfToken, "tok");
    EXPECT_EQ(on.request().bodyStart, "0123456789");
    // Head and body split anywhere: the bytes that came with the head's end count.
    HttpRequestParser split(HttpExtensions::Off, HttpAppLines::On);
    (void)split.feed(put.substr(0, put.size() - 12));
    (void)split.feed(put.substr(put.size() - 12));
    ASSERT_EQ(split.state(), HttpParse::Complete);
    EXPECT_EQ(split.request().bodyStart, "0123456789");

    // A PUT elsewhere keeps the designed path, query and all.
    HttpRequestParser elsewhere(HttpExtensions::Off, HttpAppLines::On);
    (void)elsewhere.feed("PUT /list.html?path=x HTTP/1.1\r\n\r\n");
    ASSERT_EQ(elsewhere.state(), HttpParse::Complete);
    EXPECT_EQ(elsewhere.request().path, "list.html?path=x");

    HttpRequestParser off;
    (void)off.feed(put);
    ASSERT_EQ(off.state(), HttpParse::Complete);
    EXPECT_EQ(off.request().path, "app/upload?path=a%20b&offset=0");  // as designed
    EXPECT_EQ(off.request().cookie, "");
    EXPECT_EQ(off.request().csrfToken, "");
    EXPECT_EQ(off.request().bodyStart, "");
}

TEST(WebAppParser, TheFormUploadStreamsItsBodyAndTheHeadersOfABodyAreKept) {
    const std::string post =
        "POST /app/send?path=docs HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n"
        "Expect: 100-Continue\r\nTransfer-Encoding: chunked\r\nContent-Length: 999999999\r\n\r\n--b\r\n";
    HttpRequestParser on(HttpExtensions::Off, HttpAppLines::On);
    EXPECT_EQ(on.feed(post), post.size());
    ASSERT_EQ(on.state(), HttpParse::Complete);  // not BodyTooLarge: the handler streams it
    EXPECT_EQ(on.request().path, "app/send");
    EXPECT_EQ(on.request().query, "path=docs&");
    EXPECT_EQ(on.request().contentType, "multipart/form-data; boundary=b");
    EXPECT_TRUE(on.request().expectsContinue);
    EXPECT_TRUE(on.request().sentTransferEncoding);
    EXPECT_EQ(on.request().bodyStart, "--b\r\n");
    // Every other POST keeps the designed rules, its body too large to read.
    HttpRequestParser other(HttpExtensions::Off, HttpAppLines::On);
    (void)other.feed("POST /app/mkdir HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n");
    EXPECT_EQ(other.state(), HttpParse::BodyTooLarge);
    HttpRequestParser off;
    (void)off.feed(post);
    EXPECT_EQ(off.state(), HttpParse::BodyTooLarge);
}

TEST(WebAppParser, ADropBoxFormStreamsItsBodyAndNoOtherLinkRouteDoes) {
    const std::string post = "POST /app/s/" + std::string(32, 'A') +
                             "/send HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n--b\r\n";
    HttpRequestParser on(HttpExtensions::Off, HttpAppLines::On);
    EXPECT_EQ(on.feed(post), post.size());
    ASSERT_EQ(on.state(), HttpParse::Complete);
    EXPECT_EQ(on.request().path, "app/s/" + std::string(32, 'A') + "/send");
    EXPECT_EQ(on.request().bodyStart, "--b\r\n");
    for (const char* path : {"app/s//send", "app/s/X/unlock", "app/sx/send", "app/s/send"}) {
        HttpRequestParser other(HttpExtensions::Off, HttpAppLines::On);
        (void)other.feed("POST /" + std::string(path) + " HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n");
        EXPECT_EQ(other.state(), HttpParse::BodyTooLarge) << path;
    }
}

TEST(WebAppText, EveryFieldOfANameIsReadUpToTheLimit) {
    EXPECT_EQ(formFields("pick=a&xpick=b&pick=c+d&pick=%2F&", "pick", 10),
              (std::vector<std::string>{"a", "c d", "/"}));
    EXPECT_EQ(formFields("pick=a&pick=b&pick=c&", "pick", 2).size(), 2u);
    EXPECT_TRUE(formFields("path=x&", "pick", 10).empty());
}

TEST(WebAppPages, FoldersComeFirstAndEachKeySortsBothWays) {
    std::vector<AppEntry> entries = {{"b.txt", false, 30, 100},
                                     {"Zdir", true, 0, 50},
                                     {"a.txt", false, 30, 300},
                                     {"c.txt", false, 10, 200},
                                     {"adir", true, 0, 60}};
    auto names = [&] {
        std::string all;
        for (const AppEntry& e : entries) all += e.name + " ";
        return all;
    };
    sortEntries(entries, appSortOf("sort=name&"));
    EXPECT_EQ(names(), "Zdir adir a.txt b.txt c.txt ");
    sortEntries(entries, appSortOf("sort=name&order=desc&"));
    EXPECT_EQ(names(), "adir Zdir c.txt b.txt a.txt ");
    sortEntries(entries, appSortOf("sort=size&"));
    EXPECT_EQ(names(), "Zdir adir c.txt a.txt b.txt ");  // equal sizes by name
    sortEntries(entries, appSortOf("sort=date&order=desc&"));
    EXPECT_EQ(names(), "adir Zdir a.txt c.txt b.txt ");
    sortEntries(entries, appSortOf("sort=nonsense&"));
    EXPECT_EQ(names(), "Zdir adir a.txt b.txt c.txt ");
}

TEST(WebAppPages, TheViewEscapesNamesOffersOnlyWhatTheRightsAllowAndCarriesTheToken) {
    FolderView view;
    view.user = "al<i>ce";
    view.folder = "Grüße/2026";
    view.csrfToken = "T0K";
    view.entries = {{"<script>x</script>.txt", false, 5, 0}, {"sub", true, 0, 0}};
    view.rights.download = true;
    std::string page = folderPage(view);
    EXPECT_EQ(page.find("<script>x"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;x&lt;/script&gt;.txt"), std::string::npos);
    EXPECT_NE(page.find("al&lt;i&gt;ce"), std::string::npos);
    EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
    EXPECT_NE(page.find("name=\"viewport\""), std::string::npos);
    // Breadcrumbs: Home and the first folder link, the last is the current page.
    EXPECT_NE(page.find(">Home</a>"), std::string::npos);
    EXPECT_NE(page.find("<li aria-current=\"page\">2026</li>"), std::string::npos);
    EXPECT_NE(page.find(">Grüße</a>"), std::string::npos);
    // No right, no control.
    for (const char* action : {"/app/mkdir", "/app/rename", "/app/delete", "id=\"upload\""})
        EXPECT_EQ(page.find(action), std::string::npos) << action;
    view.rights = AppRights{true, true, true, true, true, true};
    page = folderPage(view);
    for (const char* action : {"/app/mkdir", "/app/rename", "/app/delete", "id=\"upload\""})
        EXPECT_NE(page.find(action), std::string::npos) << action;
    EXPECT_NE(page.find("name=\"csrf\" value=\"T0K\""), std::string::npos);
    EXPECT_NE(page.find("data-csrf=\"T0K\""), std::string::npos);
}

TEST(WebAppPages, EveryAnswerForbidsFramingSniffingCachingAndOutsideResources) {
    const std::string header = appHeader(200, "text/html; charset=utf-8", 12, "X-Extra: 1\r\n");
    EXPECT_EQ(header.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    for (const char* field :
         {"Content-Length: 12\r\n", "Cache-Control: no-store\r\n", "X-Content-Type-Options: nosniff\r\n",
          "X-Frame-Options: DENY\r\n", "default-src 'none'", "frame-ancestors 'none'", "X-Extra: 1\r\n"})
        EXPECT_NE(header.find(field), std::string::npos) << field;
    EXPECT_EQ(header.substr(header.size() - 4), "\r\n\r\n");
    // Nothing the pages use comes from elsewhere.
    const std::string login = loginPage("x");
    for (std::string_view asset : {kAppStyleSheet, kAppScript, std::string_view(login)}) {
        EXPECT_EQ(asset.find("http://"), std::string_view::npos);
        EXPECT_EQ(asset.find("https://"), std::string_view::npos);
        EXPECT_EQ(asset.find("//cdn"), std::string_view::npos);
    }
}

}  // namespace
}  // namespace corvel
