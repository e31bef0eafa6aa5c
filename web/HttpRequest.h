// One parsed web request as the reader hands it to the request handler.
#pragma once

#include <cstdint>
#include <string>

namespace corvel {

// Head comes only from a parser that reads the extensions (HttpExtensions::On);
// otherwise a HEAD line is no request line at all.
enum class HttpMethod { None, Get, Post, Put, Head };

struct HttpRequest {
    HttpMethod method = HttpMethod::None;
    std::string path;      // target without its leading '/'; for GET and HEAD without the query
    std::string query;     // GET, HEAD: text after '?' plus a closing '&'; POST: the body appended
    std::string user;      // from the Basic credentials
    std::string password;
    std::int64_t contentLength = 0;  // saturates instead of wrapping on huge values
    bool sentCredentials = false;    // an Authorization line was seen (a login attempt)
    std::string host;                // the Host header's value, trimmed
    std::string origin;              // the Origin header's value, trimmed
    std::string referer;             // the Referer header's value, trimmed
    std::string peerAddress;         // the client's address, filled by the connection
    // Read only with HttpExtensions::On; empty and false otherwise.
    std::string range;               // the Range header's value, trimmed (the last such line)
    bool sentIfRange = false;        // an If-Range line was seen
    // Read only with HttpAppLines::On (<webapp>yes); empty otherwise.
    std::string cookie;              // the Cookie header's value, trimmed (the last such line)
    std::string csrfToken;           // the X-CSRF-Token header's value, trimmed
    std::string contentType;         // the Content-Type header's value, trimmed
    bool sentTransferEncoding = false;  // a Transfer-Encoding line was seen (a body without a length)
    bool expectsContinue = false;       // "Expect: 100-continue": the client waits before its body
    std::string bodyStart;           // a streamed body's first bytes, read with its head
};

}  // namespace corvel
