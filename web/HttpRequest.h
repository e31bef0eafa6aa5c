// One parsed web request as the reader hands it to the request handler.
#pragma once

#include <cstdint>
#include <string>

namespace corvel {

enum class HttpMethod { None, Get, Post, Put };

struct HttpRequest {
    HttpMethod method = HttpMethod::None;
    std::string path;      // target without its leading '/'; for GET without the query
    std::string query;     // GET: text after '?' plus a closing '&'; POST: the body appended
    std::string user;      // from the Basic credentials
    std::string password;
    std::int64_t contentLength = 0;  // saturates instead of wrapping on huge values
    bool sentCredentials = false;    // an Authorization line was seen (a login attempt)
    std::string host;                // the Host header's value, trimmed
    std::string origin;              // the Origin header's value, trimmed
    std::string referer;             // the Referer header's value, trimmed
    std::string peerAddress;         // the client's address, filled by the connection
};

}  // namespace corvel
