// The body of a web connection's thread: reads one request, answers it, and ends
// the connection in an orderly way.
#pragma once

#include <memory>

#include "platform/Socket.h"

namespace corvel {

class UserTable;
class LoginGuard;
class TlsServer;
class AccessPolicy;

// What every web connection of one server run shares; owned by the server, which
// outlives every connection. Thread-safe.
struct WebContext {
    UserTable& users;
    const LoginGuard& logins;
    std::shared_ptr<const TlsServer> tls;  // set with <webtls>yes: the port speaks HTTPS only
    const AccessPolicy& policy;            // asked only with webPolicy
    // <webpolicy>yes: a refused address is closed unanswered, and the rights gate the routes.
    bool webPolicy = false;
    // <webext>yes: HEAD, and byte ranges on downloads.
    bool webExtensions = false;
};

// Serves the one request of a web connection and returns when it is done; the
// socket (non-blocking) is closed when it goes out of scope here. With webPolicy, a
// peer the access policy refuses is closed before anything is read or sent. Runs on
// the connection's own thread.
void serveWebConnection(Socket socket, const WebContext& context);

}  // namespace corvel
