// The request parser fed bytes directly: split at every byte, hostile lengths and
// quirks of the request line, the headers and the body.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/HttpRequestParser.h"

namespace corvel {
namespace {

struct ParseRun {
    int handled = 0;  // 1 when the request completed
    HttpRequest request;
    HttpParse state = HttpParse::NeedMore;
};

// Feeds the parts in order, as separate arrivals.
ParseRun parse(const std::vector<std::string>& parts, HttpExtensions extensions = HttpExtensions::Off) {
    HttpRequestParser parser(extensions);
    for (const std::string& part : parts) {
        std::size_t used = parser.feed(part);
        if (parser.state() == HttpParse::NeedMore) {
            EXPECT_EQ(used, part.size());
        }
        if (parser.state() != HttpParse::NeedMore) break;
    }
    ParseRun run;
    run.state = parser.state();
    run.handled = parser.state() == HttpParse::Complete ? 1 : 0;
    run.request = parser.request();
    return run;
}

ParseRun parse(const std::string& whole, HttpExtensions extensions = HttpExtensions::Off) {
    return parse(std::vector<std::string>{whole}, extensions);
}

// Every byte its own arrival.
ParseRun parseBytewise(const std::string& whole) {
    std::vector<std::string> bytes;
    for (char c : whole) bytes.emplace_back(1, c);
    return parse(bytes);
}

TEST(HttpRequestParser, EveryByteApartParsesAsTheWholeDoes) {
    const std::string post = "POST /update_password.html HTTP/1.1\r\nHost: h\r\nOrigin: http://h\r\n"
                             "Authorization: Basic YWxpY2U6c2VjcmV0\r\nContent-Length: 9\r\n\r\nnew_pwd=a";
    for (const std::string& request : {post, std::string("GET /list.html?path=x HTTP/1.1\nReferer: r\n\n")}) {
        ParseRun whole = parse(request);
        ParseRun bytewise = parseBytewise(request);
        ASSERT_EQ(whole.handled, 1);
        ASSERT_EQ(bytewise.handled, 1);
        EXPECT_EQ(bytewise.request.method, whole.request.method);
        EXPECT_EQ(bytewise.request.path, whole.request.path);
        EXPECT_EQ(bytewise.request.query, whole.request.query);
        EXPECT_EQ(bytewise.request.user, whole.request.user);
        EXPECT_EQ(bytewise.request.password, whole.request.password);
        EXPECT_EQ(bytewise.request.host, whole.request.host);
        EXPECT_EQ(bytewise.request.origin, whole.request.origin);
        EXPECT_EQ(bytewise.request.referer, whole.request.referer);
    }
}

TEST(HttpRequestParser, BytesPastTheRequestAreNotUsed) {
    HttpRequestParser parser;
    const std::string first = "GET /a HTTP/1.1\r\n\r\n";
    EXPECT_EQ(parser.feed(first + "GET /b HTTP/1.1\r\n\r\n"), first.size());
    EXPECT_EQ(parser.state(), HttpParse::Complete);
    EXPECT_EQ(parser.feed("more"), 0u);
}

TEST(HttpRequestParser, AHeadPast64KiBIsRefused) {
    std::string head = "GET / HTTP/1.1\r\n";
    while (head.size() <= kMaxHttpHeadBytes) head += "X-Filler: " + std::string(4000, 'a') + "\r\n";
    EXPECT_EQ(parse(head + "\r\n").state, HttpParse::HeadTooLarge);
    // Drained bytes of overlong lines count too, so one endless line cannot go on.
    EXPECT_EQ(parse(std::string(kMaxHttpHeadBytes + 1, 'x')).state, HttpParse::HeadTooLarge);
    std::string below = "GET / HTTP/1.1\r\n";
    while (below.size() + 4020 < kMaxHttpHeadBytes) below += "X-Filler: " + std::string(4000, 'a') + "\r\n";
    EXPECT_EQ(parse(below + "\r\n").state, HttpParse::Complete);
}

TEST(HttpRequestParser, ARequestLinePastTheHeadCapIsAUriTooLongAndOtherLinesAreNot) {
    const std::string url(kMaxHttpHeadBytes, 'a');
    for (const char* method : {"GET /", "post /", "  PUT /"})
        EXPECT_EQ(parse(method + url + " HTTP/1.1\r\n\r\n").state, HttpParse::UriTooLong) << method;
    // A huge header line, or a HEAD line while HEAD is no method, is no URL.
    EXPECT_EQ(parse("GET / HTTP/1.1\r\nX-Big: " + url + "\r\n\r\n").state, HttpParse::HeadTooLarge);
    EXPECT_EQ(parse("HEAD /" + url + "\r\n").state, HttpParse::HeadTooLarge);
    // Past the line limit but within the head: drained and unanswered, as always.
    EXPECT_EQ(parse("GET /" + std::string(kMaxHttpLineBytes + 10, 'a') + " HTTP/1.1\r\n\r\n").state,
              HttpParse::LineTooLong);
}

TEST(HttpRequestParser, GetRequestSplitAtEveryByteParsesAlike) {
    const std::string request =
        "GET /list.html?path=docs%2Fa HTTP/1.1\r\nHost: example\r\nRange: bytes=0-1\r\n"
        "Authorization: Basic YWxpY2U6c2VjcmV0\r\n\r\n";
    for (std::size_t cut = 1; cut < request.size(); ++cut) {
        ParseRun run = parse({request.substr(0, cut), request.substr(cut)});
        ASSERT_EQ(run.handled, 1) << "cut at " << cut;
        EXPECT_EQ(run.request.method, HttpMethod::Get);
        EXPECT_EQ(run.request.host, "example");
        EXPECT_EQ(run.request.path, "list.html");
        EXPECT_EQ(run.request.query, "path=docs%2Fa&");
        EXPECT_EQ(run.request.user, "alice");
        EXPECT_EQ(run.request.password, "secret");
    }
}

TEST(HttpRequestParser, HeadRangeAndIfRangeAreReadOnlyWithTheExtensions) {
    const std::string head = "HEAD /download.html?path=a%20b HTTP/1.1\r\nrange: bytes=1-\r\nRange:  bytes=5-9 \r\n"
                             "If-Range: \"x\"\r\nAuthorization: Basic YWxpY2U6c2VjcmV0\r\n\r\n";
    for (std::size_t cut = 1; cut < head.size(); ++cut) {
        ParseRun run = parse({head.substr(0, cut), head.substr(cut)}, HttpExtensions::On);
        ASSERT_EQ(run.handled, 1) << "cut at " << cut;
        EXPECT_EQ(run.request.method, HttpMethod::Head);
        EXPECT_EQ(run.request.path, "download.html");
        EXPECT_EQ(run.request.query, "path=a%20b&");
        EXPECT_EQ(run.request.range, "bytes=5-9");  // the last Range line counts
        EXPECT_TRUE(run.request.sentIfRange);
        EXPECT_EQ(run.request.user, "alice");
    }
    // As with "get", a lower-case method word finds no target.
    EXPECT_EQ(parse("head /x?a=1 HTTP/1.1\r\n\r\n", HttpExtensions::On).request.path, "");
    EXPECT_EQ(parse("HEADER /x HTTP/1.1\r\n\r\n", HttpExtensions::On).request.method, HttpMethod::None);
    // Off: the HEAD line is no request line, and both headers are unknown lines.
    ParseRun off = parse(head);
    ASSERT_EQ(off.handled, 1);
    EXPECT_EQ(off.request.method, HttpMethod::None);
    EXPECT_EQ(off.request.path, "");
    EXPECT_EQ(off.request.query, "");
    EXPECT_EQ(off.request.range, "");
    EXPECT_FALSE(off.request.sentIfRange);
}

TEST(HttpRequestParser, PostBodySplitAtEveryByteIsAppendedToTheQuery) {
    const std::string body = "new_pwd=abc&new_pwd_confirm=abc";
    const std::string request = "POST /update_password.html HTTP/1.1\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    for (std::size_t cut = 1; cut < request.size(); ++cut) {
        ParseRun run = parse({request.substr(0, cut), request.substr(cut)});
        ASSERT_EQ(run.handled, 1) << "cut at " << cut;
        EXPECT_EQ(run.request.method, HttpMethod::Post);
        EXPECT_EQ(run.request.path, "update_password.html");
        EXPECT_EQ(run.request.query, body);
    }
}

TEST(HttpRequestParser, RequestLineQuirks) {
    struct Case {
        const char* line;
        HttpMethod method;
        const char* path;
        const char* query;
    } cases[] = {
        {"GET / HTTP/1.1", HttpMethod::Get, "", "&"},
        {"GET /list.html", HttpMethod::Get, "list.html", "&"},
        {"get /list.html?path=a HTTP/1.1", HttpMethod::Get, "", "path=a&"},
        {"GET http://host/list.html?path=b HTTP/1.1", HttpMethod::Get, "", "path=b&"},
        {"GET /a b?x=1 HTTP/1.1", HttpMethod::Get, "a", "x=1&"},
        {"POST /update_password.html?x=1 HTTP/1.1", HttpMethod::Post, "update_password.html?x=1", ""},
        {"PUT /list.html HTTP/1.1", HttpMethod::Put, "list.html", ""},
        {"HEAD /list.html HTTP/1.1", HttpMethod::None, "", ""},
        {"  \tGET /config.html HTTP/1.1 \t", HttpMethod::Get, "config.html", "&"},
    };
    for (const Case& c : cases) {
        ParseRun run = parse(std::string(c.line) + "\r\n\r\n");
        ASSERT_EQ(run.handled, 1) << c.line;
        EXPECT_EQ(run.request.method, c.method) << c.line;
        EXPECT_EQ(run.request.path, c.path) << c.line;
        EXPECT_EQ(run.request.query, c.query) << c.line;
    }
}

TEST(HttpRequestParser, LaterRequestLineReplacesEarlierAndHeadersMayComeFirst) {
    ParseRun run = parse("Authorization: Basic Ym9iOnB3\nGET /a?q=1 HTTP/1.1\nPOST /b HTTP/1.1\n\n");
    ASSERT_EQ(run.handled, 1);
    EXPECT_EQ(run.request.method, HttpMethod::Post);
    EXPECT_EQ(run.request.path, "b");
    EXPECT_EQ(run.request.query, "q=1&");  // POST lines do not touch the query
    EXPECT_EQ(run.request.user, "bob");
    EXPECT_EQ(run.request.password, "pw");
}

TEST(HttpRequestParser, CredentialQuirks) {
    struct Case {
        const char* header;
        const char* user;
        const char* password;
    } cases[] = {
        {"Authorization: Basic YWxpY2U6czpl:Y3JldA==", "alice", "s:ecret"},  // a stray ":" is skipped
        {"Authorization: Basic YWxpY2U6YTpiOmM=", "alice", "a:b:c"},
        {"Authorization: Basic YWxpY2U=", "alice", ""},
        {"Authorization: basic YWxpY2U6c2VjcmV0", "", ""},
        {"authorization: Basic YWxpY2U6c2VjcmV0", "", ""},  // prefix matches, search does not
        {"Authorization:Basic YWxpY2U6c2VjcmV0", "", ""},
        {"Authorization: Basic ", "", ""},
    };
    for (const Case& c : cases) {
        ParseRun run = parse(std::string("GET / HTTP/1.1\r\n") + c.header + "\r\n\r\n");
        ASSERT_EQ(run.handled, 1) << c.header;
        EXPECT_EQ(run.request.user, c.user) << c.header;
        EXPECT_EQ(run.request.password, c.password) << c.header;
    }
}

TEST(HttpRequestParser, EmptyFirstLineRunsTheHandlerAtOnce) {
    for (const char* first : {"\r\n", "\n", " \t \r\n"}) {
        ParseRun run = parse(std::string(first) + "GET /list.html HTTP/1.1\r\n\r\n");
        ASSERT_EQ(run.handled, 1);
        EXPECT_EQ(run.request.method, HttpMethod::None);
        EXPECT_EQ(run.request.path, "");
        EXPECT_EQ(run.request.user, "");
    }
}

TEST(HttpRequestParser, OnlyTheFirstOfTwoRequestsIsHandled) {
    ParseRun run = parse("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n");
    EXPECT_EQ(run.handled, 1);
    EXPECT_EQ(run.request.path, "a");
}

TEST(HttpRequestParser, LineLengthLimit) {
    // 4,093 bytes before the line feed are accepted ...
    std::string longest = "X-Pad: " + std::string(kMaxHttpLineBytes - 7, 'a');
    ASSERT_EQ(longest.size(), 4093u);
    EXPECT_EQ(parse(longest + "\nGET /ok HTTP/1.1\n\n").handled, 1);
    EXPECT_EQ(parse("GET /ok HTTP/1.1\r\n" + longest.substr(1) + "\r\n\r\n").handled, 1);
    // ... 4,094 end the connection without an answer, even when the line feed follows.
    ParseRun tooLong = parse(longest + "b\nGET /ok HTTP/1.1\n\n");
    EXPECT_EQ(tooLong.handled, 0);
    EXPECT_EQ(tooLong.request.path, "");
    EXPECT_EQ(parse("GET /ok HTTP/1.1\r\n" + longest + "\r\n\r\n").handled, 0);  // CR counts
    // A line that never ends is drained, and no byte of it is kept.
    ParseRun endless = parse({std::string(10000, 'x'), std::string(10000, 'y')});
    EXPECT_EQ(endless.handled, 0);
    EXPECT_EQ(endless.state, HttpParse::NeedMore);
}

TEST(HttpRequestParser, ScansContentLengthLikeTheDesignedPattern) {
    struct Case {
        const char* line;
        bool scanned;
        std::int64_t value;
    } cases[] = {
        {"Content-Length: 12", true, 12},   {"Content-Length:12", true, 12},
        {"Content-Length:  +7x", true, 7},  {"Content-Length: -3", true, -3},
        {"Content-Length: abc", false, 0},  {"content-length: 12", false, 0},
        {"Content-Length: ", false, 0},     {"Content-Length: 2147483648", true, 2147483648},
    };
    for (const Case& c : cases) {
        std::int64_t value = 0;
        EXPECT_EQ(scanContentLength(c.line, value), c.scanned) << c.line;
        EXPECT_EQ(value, c.value) << c.line;
    }
    std::int64_t huge = 0;
    EXPECT_TRUE(scanContentLength("Content-Length: 99999999999999999999999999", huge));
    EXPECT_GT(huge, kMaxHttpBodyBytes);
}

TEST(HttpRequestParser, BodyRules) {
    // Lower-case header: recognised, not scanned, so no body is read.
    ParseRun lower = parse("POST /x HTTP/1.1\r\ncontent-length: 3\r\n\r\nabc");
    ASSERT_EQ(lower.handled, 1);
    EXPECT_EQ(lower.request.query, "");
    // PUT bodies are never read.
    ParseRun put = parse("PUT /x HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
    ASSERT_EQ(put.handled, 1);
    EXPECT_EQ(put.request.query, "");
    // Zero, negative: answered at once without a body.
    EXPECT_EQ(parse("POST /x HTTP/1.1\r\nContent-Length: 0\r\n\r\n").handled, 1);
    EXPECT_EQ(parse("POST /x HTTP/1.1\r\nContent-Length: -5\r\n\r\n").handled, 1);
    // The body counts as text up to its first NUL byte.
    ParseRun nul = parse(std::string("POST /x HTTP/1.1\r\nContent-Length: 5\r\n\r\nab\0cd", 45));
    ASSERT_EQ(nul.handled, 1);
    EXPECT_EQ(nul.request.query, "ab");
}

TEST(HttpRequestParser, BodyLimitIs65536Bytes) {
    std::string body(kMaxHttpBodyBytes, 'q');
    ParseRun largest = parse("POST /x HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + body);
    ASSERT_EQ(largest.handled, 1);
    EXPECT_EQ(largest.request.query.size(), 65536u);
    EXPECT_EQ(parse("POST /x HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" + body + "q").handled, 0);
    EXPECT_EQ(parse("POST /x HTTP/1.1\r\nContent-Length: 2147483648\r\n\r\n").handled, 0);
    // A GET's Content-Length plays no part.
    EXPECT_EQ(parse("GET /x HTTP/1.1\r\nContent-Length: 2147483648\r\n\r\n").handled, 1);
}

}  // namespace
}  // namespace corvel
