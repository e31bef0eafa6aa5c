// The byte-level reading of one HTTP request, as a state machine fed with whatever
// bytes arrived: request and header lines, Basic credentials, a POST form body.
// No I/O of its own; HttpRequestReader runs the socket loop around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "web/HttpRequest.h"

namespace corvel {

// Longest line the parser keeps, counted before its line feed; a longer line is
// drained to its line feed and ends the connection without a response.
constexpr std::size_t kMaxHttpLineBytes = 4093;
// Largest POST body that is read. A larger Content-Length ends the connection
// without reading the body or answering (a body is held in memory whole).
constexpr std::int64_t kMaxHttpBodyBytes = 65536;
// Largest request head (request line and header lines with their line ends); a
// longer one ends the connection without a response, as nginx's header buffers do.
constexpr std::size_t kMaxHttpHeadBytes = 64u << 10;

enum class HttpParse {
    NeedMore,      // feed more bytes
    Complete,      // request() is whole: answer it
    LineTooLong,   // a line past kMaxHttpLineBytes was drained to its line feed: no answer
    HeadTooLarge,  // the head passed kMaxHttpHeadBytes: close at once, no answer
    UriTooLong,    // a request line ran past kMaxHttpHeadBytes: answer 414, then close
    BodyTooLarge,  // a POST announced more than kMaxHttpBodyBytes: no answer
};

// Which request lines the parser reads. Off is the designed set. On (<webext>yes)
// adds the HEAD request line and keeps the Range and If-Range headers, which Off
// ignores like any unknown line.
enum class HttpExtensions { Off, On };

// The lines the web client adds (<webapp>yes): the Cookie, X-CSRF-Token,
// Content-Type, Transfer-Encoding and Expect headers are kept, and a PUT or a POST to
// a streamed form (isStreamedFormPath) is complete with its head: the body bytes read with the head go
// to bodyStart, and the handler streams the rest from the socket.
enum class HttpAppLines { Off, On };

// The web client's upload form (multipart, any size), whose body is streamed.
inline constexpr std::string_view kStreamedFormPath = "app/send";
// A drop box's upload form, "app/s/TOKEN/send", whose body is streamed too.
inline constexpr std::string_view kStreamedSharePrefix = "app/s/";
inline constexpr std::string_view kStreamedShareSuffix = "/send";
// Whether a POST's path (without its query) is one of the streamed forms.
bool isStreamedFormPath(std::string_view path);

// One request per parser; owned by one thread.
class HttpRequestParser {
public:
    explicit HttpRequestParser(HttpExtensions extensions = HttpExtensions::Off, HttpAppLines app = HttpAppLines::Off);

    // Takes bytes in arrival order, any split. Returns how many were used: all of
    // them while more are needed; fewer when the request ended inside them (the rest
    // is not looked at).
    std::size_t feed(std::string_view bytes);

    HttpParse state() const { return state_; }
    bool readingBody() const { return readingBody_; }
    // The request as far as it has been read; whole once state() is Complete.
    const HttpRequest& request() const { return request_; }

private:
    std::size_t feedHead(std::string_view bytes);
    std::size_t feedBody(std::string_view bytes);
    void processLine(std::string_view line);
    void finishHead();
    // Whether line (its start, at least) is a request line this parser reads.
    bool isRequestLine(std::string_view line) const;
    // A body the handler reads from the socket itself (HttpAppLines::On only).
    bool streamsBody() const;

    HttpExtensions extensions_;
    HttpAppLines app_;
    HttpParse state_ = HttpParse::NeedMore;
    HttpRequest request_;
    std::string line_;
    std::size_t headBytes_ = 0;
    bool draining_ = false;
    bool drainingRequestLine_ = false;  // the overlong line being drained is a request line
    bool readingBody_ = false;
    std::size_t bodyWanted_ = 0;
    std::string body_;
};

// The Content-Length value of a line read like scanf's "Content-Length: %d" (literal
// matched case-sensitively, any white space before an optional sign and the digits).
// Huge values saturate instead of wrapping. false when the scan fails.
bool scanContentLength(std::string_view line, std::int64_t& value);

}  // namespace corvel
