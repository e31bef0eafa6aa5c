// The web client under /app/ (<webapp>yes): a sign-in page with a session cookie,
// the folder view, downloads, uploads in chunks, new folders, renames and deletes.
// Every file operation goes through the file service with the account's own rights;
// every request that changes something needs the session's token and a same-origin
// Origin or Referer. HTTP Basic is accepted too, for scripts.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "files/FileService.h"
#include "web/HttpRequest.h"
#include "web/WebSessions.h"

namespace corvel {

class Socket;
class UserTable;
class LoginGuard;

// A partial upload's name beside its final one: hidden, and not listed by the view.
std::string partialUploadName(std::string_view name);
bool isPartialUploadName(std::string_view name);

class WebApp {
public:
    // secureCookie: the port speaks HTTPS (<webtls>), so the cookie says Secure.
    WebApp(
        UserTable& users, const LoginGuard* logins, WebSessions& sessions, bool secureCookie,
        std::function<WebClock::time_point()> clock = [] { return WebClock::now(); });

    // Whether the request's path is the web client's ("app" or below "app/").
    static bool handles(std::string_view path);
    // Answers one request; like WebRequestHandler::handle it never closes the socket
    // except when a write fails.
    void handle(Socket& socket, const HttpRequest& request);

private:
    // Who sent a request: the account, and whether the request may change things.
    struct Caller {
        std::string user;
        std::string csrfToken;  // the session's; empty under HTTP Basic
        bool mayChange = false;
        bool fromThisSite = false;  // a same-origin Origin or Referer came along
    };
    std::optional<Caller> callerOf(const HttpRequest& request, bool& basicFailed);
    FileService filesOf(const std::string& user) const;

    void serveLogin(Socket& socket, const HttpRequest& request);
    void serveLogout(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveFolder(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveDownload(Socket& socket, const HttpRequest& request, const Caller& caller);
    // A folder and everything below it as one zip, streamed as it is made.
    void serveZip(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveUploadStatus(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveUpload(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveFolderChange(Socket& socket, const HttpRequest& request, const Caller& caller);
    // The upload form that works without JavaScript: a multipart body, streamed.
    void serveFormUpload(Socket& socket, const HttpRequest& request, const Caller& caller);

    UserTable& users_;
    const LoginGuard* logins_;
    WebSessions& sessions_;
    bool secureCookie_;
    std::function<WebClock::time_point()> clock_;
};

}  // namespace corvel
