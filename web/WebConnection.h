// The body of a web connection's thread: reads one request, answers it, and ends
// the connection in an orderly way.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "platform/Socket.h"

namespace corvel {

class UserTable;
class LoginGuard;
class TlsServer;
class AccessPolicy;
class BanList;
class WebSessions;
class TransferLog;
class LiveSessions;
class ShareStore;
class LogSink;

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
    // <webcharset>: the character set every page declares; empty: none, as designed.
    std::string webCharset;
    BanList* bans = nullptr;               // banned addresses are turned away (<banfailures>)
    // <webapp>yes: the web client under /app/ with these sessions; null: no client,
    // and every request is read and answered as designed.
    WebSessions* appSessions = nullptr;
    // With appSessions: the share links (ftpshares.xml) and the visitors who gave a
    // link's password; null: the web client makes no links.
    ShareStore* shares = nullptr;
    WebSessions* shareVisits = nullptr;
    LogSink* log = nullptr;  // every use of a share link is a line there
    TransferLog* transferLog = nullptr;    // <xferlog>: every download is a line there
    LiveSessions* liveSessions = nullptr;  // every connection served is listed (corvelctl sessions, kick)
    std::atomic<int>* activeSends = nullptr;  // every download counts itself here while it sends (CrowdedSend)
};

// Serves the one request of a web connection and returns when it is done; the
// socket (non-blocking) is closed when it goes out of scope here. A peer the access
// policy refuses (with webPolicy) or a banned one is closed before anything is read
// or sent. Runs on the connection's own thread. clientAddress, when given, is the
// client's address as a load balancer's PROXY header told it.
void serveWebConnection(Socket socket, const WebContext& context, std::optional<std::string> clientAddress = {});

}  // namespace corvel
