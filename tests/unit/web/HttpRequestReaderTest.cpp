// The request reader fed real bytes through a loopback connection, split at every
// byte, with hostile lengths, silence and early closes.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "LoopbackPair.h"
#include "web/HttpRequestReader.h"

namespace corvel {
namespace {

using testing::LoopbackPair;
using testing::makeLoopbackPair;

// Short waits keep the silence tests quick: 25 idle waits of 40 ms end a reader.
constexpr HttpReaderTiming kQuickTiming{40, 25};

struct ReaderRun {
    int handled = 0;
    HttpRequest request;   // as handed to the handler (or as far as it got)
    bool socketOpenAfter = false;
    int readLineCalls = 0;
};

enum class AfterSending { KeepOpen, Close };

// Sends parts with a short pause between them from another thread, and runs the
// reader until it asks to stop.
ReaderRun runReader(const std::vector<std::string>& parts, AfterSending after = AfterSending::KeepOpen) {
    LoopbackPair pair = makeLoopbackPair();
    ReaderRun run;
    std::thread writer([&] {
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(3));
            EXPECT_GE(sendAll(pair.client, parts[i]), 0);
        }
        if (after == AfterSending::Close) pair.client.close();
    });
    HttpRequestReader reader(
        pair.server,
        [&run](Socket&, const HttpRequest& request) {
            ++run.handled;
            run.request = request;
        },
        kQuickTiming);
    // Bounded: every request here ends, by its empty line or by the idle limit.
    for (int i = 0; i < 10000; ++i) {
        ++run.readLineCalls;
        if (!reader.readLine()) break;
    }
    if (run.handled == 0) run.request = reader.request();
    run.socketOpenAfter = pair.server.isOpen();
    writer.join();
    return run;
}

ReaderRun runReader(const std::string& whole, AfterSending after = AfterSending::KeepOpen) {
    return runReader(std::vector<std::string>{whole}, after);
}

TEST(HttpRequestReader, GetRequestSplitAtEveryByteParsesAlike) {
    const std::string request =
        "GET /list.html?path=docs%2Fa HTTP/1.1\r\nHost: example\r\nRange: bytes=0-1\r\n"
        "Authorization: Basic YWxpY2U6c2VjcmV0\r\n\r\n";
    for (std::size_t cut = 1; cut < request.size(); ++cut) {
        ReaderRun run = runReader({request.substr(0, cut), request.substr(cut)});
        ASSERT_EQ(run.handled, 1) << "cut at " << cut;
        EXPECT_EQ(run.request.method, HttpMethod::Get);
        EXPECT_EQ(run.request.path, "list.html");
        EXPECT_EQ(run.request.query, "path=docs%2Fa&");
        EXPECT_EQ(run.request.user, "alice");
        EXPECT_EQ(run.request.password, "secret");
    }
}

TEST(HttpRequestReader, PostBodySplitAtEveryByteIsAppendedToTheQuery) {
    const std::string body = "new_pwd=abc&new_pwd_confirm=abc";
    const std::string request = "POST /update_password.html HTTP/1.1\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    for (std::size_t cut = 1; cut < request.size(); ++cut) {
        ReaderRun run = runReader({request.substr(0, cut), request.substr(cut)});
        ASSERT_EQ(run.handled, 1) << "cut at " << cut;
        EXPECT_EQ(run.request.method, HttpMethod::Post);
        EXPECT_EQ(run.request.path, "update_password.html");
        EXPECT_EQ(run.request.query, body);
    }
}

TEST(HttpRequestReader, RequestLineQuirks) {
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
        ReaderRun run = runReader(std::string(c.line) + "\r\n\r\n");
        ASSERT_EQ(run.handled, 1) << c.line;
        EXPECT_EQ(run.request.method, c.method) << c.line;
        EXPECT_EQ(run.request.path, c.path) << c.line;
        EXPECT_EQ(run.request.query, c.query) << c.line;
    }
}

TEST(HttpRequestReader, LaterRequestLineReplacesEarlierAndHeadersMayComeFirst) {
    ReaderRun run = runReader("Authorization: Basic Ym9iOnB3\nGET /a?q=1 HTTP/1.1\nPOST /b HTTP/1.1\n\n");
    ASSERT_EQ(run.handled, 1);
    EXPECT_EQ(run.request.method, HttpMethod::Post);
    EXPECT_EQ(run.request.path, "b");
    EXPECT_EQ(run.request.query, "q=1&");  // POST lines do not touch the query
    EXPECT_EQ(run.request.user, "bob");
    EXPECT_EQ(run.request.password, "pw");
}

TEST(HttpRequestReader, CredentialQuirks) {
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
        ReaderRun run = runReader(std::string("GET / HTTP/1.1\r\n") + c.header + "\r\n\r\n");
        ASSERT_EQ(run.handled, 1) << c.header;
        EXPECT_EQ(run.request.user, c.user) << c.header;
        EXPECT_EQ(run.request.password, c.password) << c.header;
    }
}

TEST(HttpRequestReader, EmptyFirstLineRunsTheHandlerAtOnce) {
    for (const char* first : {"\r\n", "\n", " \t \r\n"}) {
        ReaderRun run = runReader(std::string(first) + "GET /list.html HTTP/1.1\r\n\r\n");
        ASSERT_EQ(run.handled, 1);
        EXPECT_EQ(run.request.method, HttpMethod::None);
        EXPECT_EQ(run.request.path, "");
        EXPECT_EQ(run.request.user, "");
    }
}

TEST(HttpRequestReader, OnlyTheFirstOfTwoRequestsIsHandled) {
    ReaderRun run = runReader("GET /a HTTP/1.1\r\n\r\nGET /b HTTP/1.1\r\n\r\n");
    EXPECT_EQ(run.handled, 1);
    EXPECT_EQ(run.request.path, "a");
}

TEST(HttpRequestReader, LineLengthLimit) {
    // 4,093 bytes before the line feed are accepted ...
    std::string longest = "X-Pad: " + std::string(kMaxHttpLineBytes - 7, 'a');
    ASSERT_EQ(longest.size(), 4093u);
    EXPECT_EQ(runReader(longest + "\nGET /ok HTTP/1.1\n\n").handled, 1);
    EXPECT_EQ(runReader("GET /ok HTTP/1.1\r\n" + longest.substr(1) + "\r\n\r\n").handled, 1);
    // ... 4,094 end the connection without an answer, even when the line feed follows.
    ReaderRun tooLong = runReader(longest + "b\nGET /ok HTTP/1.1\n\n");
    EXPECT_EQ(tooLong.handled, 0);
    EXPECT_EQ(tooLong.request.path, "");
    EXPECT_EQ(runReader("GET /ok HTTP/1.1\r\n" + longest + "\r\n\r\n").handled, 0);  // CR counts
    // A line that never ends is drained until the peer goes silent.
    ReaderRun endless = runReader({std::string(10000, 'x'), std::string(10000, 'y')});
    EXPECT_EQ(endless.handled, 0);
    EXPECT_FALSE(endless.socketOpenAfter);
}

TEST(HttpRequestReader, ScansContentLengthLikeTheDesignedPattern) {
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

TEST(HttpRequestReader, BodyRules) {
    // Lower-case header: recognised, not scanned, so no body is read.
    ReaderRun lower = runReader("POST /x HTTP/1.1\r\ncontent-length: 3\r\n\r\nabc");
    ASSERT_EQ(lower.handled, 1);
    EXPECT_EQ(lower.request.query, "");
    // PUT bodies are never read.
    ReaderRun put = runReader("PUT /x HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc");
    ASSERT_EQ(put.handled, 1);
    EXPECT_EQ(put.request.query, "");
    // Zero, negative: answered at once without a body.
    EXPECT_EQ(runReader("POST /x HTTP/1.1\r\nContent-Length: 0\r\n\r\n").handled, 1);
    EXPECT_EQ(runReader("POST /x HTTP/1.1\r\nContent-Length: -5\r\n\r\n").handled, 1);
    // The body counts as text up to its first NUL byte.
    ReaderRun nul = runReader(std::string("POST /x HTTP/1.1\r\nContent-Length: 5\r\n\r\nab\0cd", 45));
    ASSERT_EQ(nul.handled, 1);
    EXPECT_EQ(nul.request.query, "ab");
}

TEST(HttpRequestReader, BodyLimitIs65536Bytes) {
    std::string body(kMaxHttpBodyBytes, 'q');
    ReaderRun largest = runReader("POST /x HTTP/1.1\r\nContent-Length: 65536\r\n\r\n" + body);
    ASSERT_EQ(largest.handled, 1);
    EXPECT_EQ(largest.request.query.size(), 65536u);
    EXPECT_EQ(runReader("POST /x HTTP/1.1\r\nContent-Length: 65537\r\n\r\n" + body + "q").handled, 0);
    EXPECT_EQ(runReader("POST /x HTTP/1.1\r\nContent-Length: 2147483648\r\n\r\n").handled, 0);
    // A GET's Content-Length plays no part.
    EXPECT_EQ(runReader("GET /x HTTP/1.1\r\nContent-Length: 2147483648\r\n\r\n").handled, 1);
}

TEST(HttpRequestReader, BodyCutShortIsNotActedOn) {
    ReaderRun run = runReader("POST /update_password.html HTTP/1.1\r\nContent-Length: 40\r\n\r\nnew_pwd=a&new_pwd_confirm=a",
                              AfterSending::Close);
    EXPECT_EQ(run.handled, 0);
    EXPECT_FALSE(run.socketOpenAfter);
}

TEST(HttpRequestReader, SilenceAndEarlyCloseEndTheConnectionWithoutAnAnswer) {
    auto start = std::chrono::steady_clock::now();
    ReaderRun silent = runReader("GET / HTTP/1.1\r\n");
    EXPECT_EQ(silent.handled, 0);
    EXPECT_FALSE(silent.socketOpenAfter);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ReaderRun closed = runReader("GET / HTTP/1.1\r\nHost: x\r\n", AfterSending::Close);
    EXPECT_EQ(closed.handled, 0);
    EXPECT_FALSE(closed.socketOpenAfter);
}

}  // namespace
}  // namespace corvel
