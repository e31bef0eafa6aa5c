// GET /health (with <webext>yes): a load balancer's or a monitor's question whether
// the web port serves, answered without a login and without touching any file.
#pragma once

#include <string_view>

#include "web/HttpRequest.h"

namespace corvel {

// The whole answer: 200, a two-byte plain-text body, never cached.
inline constexpr std::string_view kHealthAnswer =
    "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\nCache-Control: no-store\r\n\r\nok";

// A GET or HEAD of /health (a query after it is ignored); a form posted there is not.
bool isHealthCheck(const HttpRequest& request);

}  // namespace corvel
