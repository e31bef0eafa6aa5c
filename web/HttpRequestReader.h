// Reads one HTTP request from a web connection line by line, collects the request
// line, Basic credentials and a POST form body, and hands the finished request to
// the handler. Owned by the connection's thread; one request per connection.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Socket.h"
#include "web/HttpRequest.h"

namespace corvel {

// Longest line the reader keeps, counted before its line feed; a longer line is
// drained to its line feed and ends the connection without a response.
constexpr std::size_t kMaxHttpLineBytes = 4093;
// Largest POST body that is read. A larger Content-Length ends the connection
// without reading the body or answering (a body is held in memory whole).
constexpr std::int64_t kMaxHttpBodyBytes = 65536;
// Largest request head (request line and header lines with their line ends); a
// longer one ends the connection without a response, as nginx's header buffers do.
constexpr std::size_t kMaxHttpHeadBytes = 64u << 10;
// Time a whole request (head and body) may take from the reader's start; past it the
// connection ends without a response, so a client trickling bytes cannot hold a
// connection for ever (nginx's client_header_timeout).
constexpr std::chrono::milliseconds kHttpRequestDeadline{60000};
// Bytes asked of one receive call; data past the request's end is discarded.
constexpr std::size_t kHttpReceiveChunkBytes = 4096;

// Waiting rule of line and body reads: readability waits of waitStepMs, and more
// than idleLimitWaits idle waits in a row end the connection. Tests shorten them.
struct HttpReaderTiming {
    int waitStepMs = kWaitStepMs;
    int idleLimitWaits = kIdleLimitSeconds;
    std::chrono::milliseconds requestDeadline = kHttpRequestDeadline;
};

class HttpRequestReader {
public:
    // Runs once, at the empty line that ends the header block, on the reader's thread.
    using RequestHandler = std::function<void(Socket&, const HttpRequest&)>;

    // The socket must be non-blocking and outlive the reader; the reader closes it
    // on a time-out, a receive failure, the peer's close, a head past
    // kMaxHttpHeadBytes or the request deadline, otherwise its owner does. The
    // deadline counts from construction.
    HttpRequestReader(Socket& socket, RequestHandler handler, HttpReaderTiming timing = {});

    // Reads and processes one line. true: call again; false: the connection must end
    // (the request was handled, or the line was too long, or the peer went silent,
    // closed or failed).
    [[nodiscard]] bool readLine();

    const HttpRequest& request() const { return request_; }

private:
    bool fillBuffer();
    bool drainToLineFeed();
    // false when the line ended the request.
    bool processLine(std::string_view line);
    void finishRequest();
    // Appends up to n bytes to body; false when the peer closed, failed or went
    // silent before all n arrived.
    bool receiveBody(std::size_t n, std::string& body);

    Socket& socket_;
    RequestHandler handler_;
    HttpReaderTiming timing_;
    HttpRequest request_;
    std::string line_;
    std::array<char, kHttpReceiveChunkBytes> buffer_{};
    std::size_t bufferStart_ = 0;
    std::size_t bufferEnd_ = 0;
    int idleWaits_ = 0;
    std::size_t headBytes_ = 0;
    std::chrono::steady_clock::time_point deadline_;
};

// The Content-Length value of a line read like scanf's "Content-Length: %d" (literal
// matched case-sensitively, any white space before an optional sign and the digits).
// Huge values saturate instead of wrapping. false when the scan fails.
bool scanContentLength(std::string_view line, std::int64_t& value);

}  // namespace corvel
