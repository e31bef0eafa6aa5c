// Answers one parsed web request: checks the Basic credentials against the user
// table, then serves the folder listing, an icon, a download (whole or, with
// <webext>, one byte range), the password form or the password update, or the
// 401 / 404 / 416 page.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "files/FileService.h"
#include "web/HttpRequest.h"
#include "web/MimeTypeTable.h"

namespace corvel {

class Socket;
class UserTable;
class LoginGuard;
class TransferLog;
enum class TransferResult;

// Longest "path" value (after decoding) that is served; a longer one gets the 404 page.
constexpr std::size_t kMaxWebPathBytes = 259;
// Longest new password the form accepts; a longer one gets a red message.
constexpr std::size_t kMaxWebPasswordBytes = 63;

// Whether a request may change anything: its Origin header (or, without one, its
// Referer) names the same host and port as its Host header. A request with neither
// (curl, scripts) passes; a browser always sends Origin with a form it posts.
bool isSameOriginRequest(const HttpRequest& request);

// The opt-in behaviours of the routes, each off while its element is absent from
// ftpconfig.xml; all off, every answer is the designed one.
struct WebFeatures {
    // <webpolicy>yes: the account's rights gate the routes as on the FTP port: the
    // listing needs List, a download Read File (the 401 page otherwise).
    bool rights = false;
    // <webext>yes: downloads answer one byte range (206, 416) and say
    // "Accept-Ranges: bytes"; downloads and icons send Content-Type on one line.
    bool ranges = false;
    // <webext>yes as well: GET /health answers "200 ok" without a login, for load
    // balancers and monitors.
    bool health = false;
};

// One per request (or reused for several, one at a time); owned by the connection's
// thread. The user table is shared and thread-safe. A HEAD request (only a parser
// with the extensions makes one) gets the header block the GET would get and no
// body; it never changes anything.
class WebRequestHandler {
public:
    // Asked only by the routes that show a page heading.
    using HostNameSource = std::function<std::string()>;

    // logins, when given, hears of every login attempt (and delays the failures).
    // pageCharset (<webcharset>) is declared in the Content-Type and a <meta> of every
    // page; empty, nothing is declared.
    WebRequestHandler(UserTable& users, HostNameSource hostName, const LoginGuard* logins = nullptr,
                      WebFeatures features = {}, std::string pageCharset = {});

    // Writes the whole answer to socket with the send helpers; a failed write closes
    // the socket and ends the answer. Never closes the socket otherwise.
    void handle(Socket& socket, const HttpRequest& request);

    // Every download (not a HEAD) becomes a line of log (<xferlog>); nullptr: none.
    void recordTransfersIn(TransferLog* log) { transferLog_ = log; }
    // Every download counts itself in sends while it sends (CrowdedSend); nullptr: none.
    void countSendsIn(std::atomic<int>* sends) { activeSends_ = sends; }
    // Told the account of every request that logged in.
    void onLogin(std::function<void(const std::string&)> listener) { loginListener_ = std::move(listener); }

private:
    void serveListing(Socket& socket, const HttpRequest& request);
    void serveDownload(Socket& socket, const HttpRequest& request);
    void servePasswordForm(Socket& socket, const HttpRequest& request);
    void servePasswordUpdate(Socket& socket, const HttpRequest& request);
    std::string frameStart(const HttpRequest& request);

    // The download's line in the transfer log: body is what a complete one sends,
    // after headerBytes of header.
    void recordDownload(Socket& socket, const HttpRequest& request, const std::string& localPath,
                        std::chrono::steady_clock::time_point started, TransferResult result, std::int64_t body,
                        std::size_t headerBytes);

    bool authenticated(const HttpRequest& request);
    // The signed-in account's files: its home, and with WebFeatures::rights its
    // rights (every right without).
    FileService filesOf(const HttpRequest& request) const;
    // The page a path the file service refused gets.
    void sendRefusal(Socket& socket, const HttpRequest& request, FileStatus status);

    UserTable& users_;
    HostNameSource hostName_;
    const LoginGuard* logins_;
    WebFeatures features_;
    std::string pageCharset_;
    MimeTypeTable mimeTypes_;
    // The fixed pages, with the character set declared when one is set.
    std::string unauthorizedPage_;
    std::string notFoundPage_;
    TransferLog* transferLog_ = nullptr;
    std::atomic<int>* activeSends_ = nullptr;
    std::function<void(const std::string&)> loginListener_;
};

}  // namespace corvel
