// The request reader on a real loopback connection: arrival in pieces, silence, early
// closes, a body cut short, and the deadline of the whole request.
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
    reader.serve();
    if (run.handled == 0) run.request = reader.request();
    run.socketOpenAfter = pair.server.isOpen();
    writer.join();
    return run;
}

ReaderRun runReader(const std::string& whole, AfterSending after = AfterSending::KeepOpen) {
    return runReader(std::vector<std::string>{whole}, after);
}

TEST(HttpRequestReader, AnswersARequestThatArrivesInPieces) {
    const std::string request = "GET /list.html?path=docs HTTP/1.1\r\nHost: example\r\n"
                                "Authorization: Basic YWxpY2U6c2VjcmV0\r\n\r\n";
    ReaderRun run = runReader({request.substr(0, 7), request.substr(7, 30), request.substr(37)});
    ASSERT_EQ(run.handled, 1);
    EXPECT_EQ(run.request.path, "list.html");
    EXPECT_EQ(run.request.query, "path=docs&");
    EXPECT_EQ(run.request.user, "alice");
    EXPECT_TRUE(run.socketOpenAfter);  // the owner closes it after the answer
}

TEST(HttpRequestReader, EndlessLinesAndHugeHeadsEndWithoutAnAnswer) {
    // Drained until the peer goes silent (or the head cap is reached).
    ReaderRun endless = runReader({std::string(10000, 'x'), std::string(10000, 'y')});
    EXPECT_EQ(endless.handled, 0);
    EXPECT_FALSE(endless.socketOpenAfter);
    ReaderRun huge = runReader(std::string(kMaxHttpHeadBytes + 100, 'z'));
    EXPECT_EQ(huge.handled, 0);
    EXPECT_FALSE(huge.socketOpenAfter);
}

TEST(HttpRequestReader, OneDeadlineForTheWholeRequest) {
    // Bytes keep coming, each well within the idle wait, but the deadline ends it.
    LoopbackPair pair = makeLoopbackPair();
    std::thread writer([&] {
        for (int i = 0; i < 40 && pair.client.isOpen(); ++i) {
            if (sendAll(pair.client, "a") < 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    int handled = 0;
    HttpRequestReader reader(pair.server, [&](Socket&, const HttpRequest&) { ++handled; },
                             HttpReaderTiming{40, 25, std::chrono::milliseconds(300)});
    const auto start = std::chrono::steady_clock::now();
    reader.serve();
    const auto took = std::chrono::steady_clock::now() - start;
    writer.join();
    EXPECT_EQ(handled, 0);
    EXPECT_FALSE(pair.server.isOpen());
    EXPECT_GE(took, std::chrono::milliseconds(280));
    EXPECT_LT(took, std::chrono::milliseconds(700));
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
