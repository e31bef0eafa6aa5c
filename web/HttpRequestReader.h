// The socket loop around HttpRequestParser for one web connection: receives with
// bounded waits and one deadline for the whole request, and hands the finished
// request to the handler. Owned by the connection's thread; one request per connection.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>

#include "platform/Socket.h"
#include "web/HttpRequestParser.h"

namespace corvel {

// Time a whole request (head and body) may take from the reader's start; past it the
// connection ends without a response, so a client trickling bytes cannot hold a
// connection for ever (nginx's client_header_timeout).
constexpr std::chrono::milliseconds kHttpRequestDeadline{60000};
// Bytes asked of one receive call; data past the request's end is discarded.
constexpr std::size_t kHttpReceiveChunkBytes = 4096;

// Waiting rule of the reads: readability waits of waitStepMs, and more than
// idleLimitWaits idle waits in a row end the connection. Tests shorten them.
struct HttpReaderTiming {
    int waitStepMs = kWaitStepMs;
    int idleLimitWaits = kIdleLimitSeconds;
    std::chrono::milliseconds requestDeadline = kHttpRequestDeadline;
};

class HttpRequestReader {
public:
    // Runs once, when the request is complete, on the reader's thread.
    using RequestHandler = std::function<void(Socket&, const HttpRequest&)>;

    // The socket must be non-blocking and outlive the reader. The deadline counts
    // from construction. extensions chooses the request lines the parser reads.
    HttpRequestReader(Socket& socket, RequestHandler handler, HttpReaderTiming timing = {},
                      HttpExtensions extensions = HttpExtensions::Off, HttpAppLines app = HttpAppLines::Off);

    // Reads until the request is complete, then runs the handler; or until the
    // connection must end without an answer: the peer went silent, closed or failed,
    // the deadline passed (the socket is closed then), a line was too long (drained
    // first; the socket is left to its owner's orderly close), the head was too
    // large (closed at once), a body too large to read, or a body cut short (closed).
    // A request line longer than the whole head may be gets the 414 page first.
    void serve();

    // The request as far as it was read.
    const HttpRequest& request() const { return parser_.request(); }

private:
    bool fillBuffer();

    Socket& socket_;
    RequestHandler handler_;
    HttpReaderTiming timing_;
    HttpRequestParser parser_;
    std::array<char, kHttpReceiveChunkBytes> buffer_{};
    int idleWaits_ = 0;
    std::chrono::steady_clock::time_point deadline_;
};

}  // namespace corvel
