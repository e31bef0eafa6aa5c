// The web client under /app/ (<webapp>yes): a sign-in page with a session cookie,
// the folder view, downloads, uploads in chunks, new folders, renames and deletes.
// Every file operation goes through the file service with the account's own rights;
// every request that changes something needs the session's token and a same-origin
// Origin or Referer. HTTP Basic is accepted too, for scripts. With a share store the
// accounts also make share links (/app/share, /app/shares), which visitors open
// below /app/s/ with the owner's rights at the time of each use.
#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/FileService.h"
#include "web/HttpRequest.h"
#include "web/WebSessions.h"

namespace corvel {

class Socket;
class UserTable;
class LoginGuard;
class ShareStore;
class AccessPolicy;
class LogSink;
struct ShareLink;

// What the share links need; without a store the web client makes none, and every
// route below /app/s/ is unknown.
struct WebAppShares {
    ShareStore* store = nullptr;
    WebSessions* visits = nullptr;  // visitors who gave a link's password (user: the link's id)
    // SECURITY: asked for every visitor's address, whatever <webpolicy> says; a
    // refused visitor's connection closes unanswered.
    const AccessPolicy* policy = nullptr;
    LogSink* log = nullptr;  // every use of a link is a line there
};

// A partial upload's name beside its final one: hidden, and not listed by the view.
std::string partialUploadName(std::string_view name);
bool isPartialUploadName(std::string_view name);

class WebApp {
public:
    // secureCookie: the port speaks HTTPS (<webtls>), so the cookie says Secure.
    WebApp(
        UserTable& users, const LoginGuard* logins, WebSessions& sessions, bool secureCookie,
        WebAppShares shares = {}, std::function<WebClock::time_point()> clock = [] { return WebClock::now(); });

    // Whether the request's path is the web client's ("app" or below "app/").
    static bool handles(std::string_view path);
    // Answers one request; like WebRequestHandler::handle it never closes the socket
    // except when a write fails.
    void handle(Socket& socket, const HttpRequest& request);
    // Every file download, the account's or a link visitor's, counts itself there
    // while it sends (CrowdedSend); zips are left out.
    void countSendsIn(std::atomic<int>* sends) { activeSends_ = sends; }

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
    // A folder and everything below it, or the entries of it the query picks, as
    // one zip, streamed as it is made.
    void serveZip(Socket& socket, const HttpRequest& request, const Caller& caller);
    // The zip of picks (names inside folder; empty: all of folder) of files, with
    // the rights of files; its top folder is named as folder, or rootName at the top. admit runs once every right and path was checked, just
    // before the first byte; false sends nothing (it has answered itself). A
    // refusal before that is refuseFor's to answer.
    void streamZip(Socket& socket, const HttpRequest& request, const FileService& files, const std::string& folder,
                   const std::vector<std::string>& picks, std::string_view rootName,
                   const std::function<bool()>& admit, const std::function<void(FileStatus)>& refuseFor);
    void serveUploadStatus(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveUpload(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveFolderChange(Socket& socket, const HttpRequest& request, const Caller& caller);
    // The upload form that works without JavaScript: a multipart body, streamed.
    void serveFormUpload(Socket& socket, const HttpRequest& request, const Caller& caller);

    // The owner's side of share links (WebAppShares.cpp).
    void serveShareList(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveShareMake(Socket& socket, const HttpRequest& request, const Caller& caller);
    void serveShareRevoke(Socket& socket, const HttpRequest& request, const Caller& caller);
    // A visitor's request below /app/s/ (route: "s/TOKEN" and what follows).
    struct Visit;
    void serveVisit(Socket& socket, const HttpRequest& request, std::string_view route);
    bool visitorUnlocked(const HttpRequest& request, const Visit& visit);
    void serveVisitUnlock(Socket& socket, const HttpRequest& request, const Visit& visit);
    void serveVisitFile(Socket& socket, const HttpRequest& request, const Visit& visit);
    void serveVisitFolder(Socket& socket, const HttpRequest& request, const Visit& visit);
    void serveVisitDownload(Socket& socket, const HttpRequest& request, const Visit& visit);
    void serveVisitZip(Socket& socket, const HttpRequest& request, const Visit& visit);
    void serveVisitUploadStatus(Socket& socket, const HttpRequest& request, const Visit& visit);
    void serveVisitUpload(Socket& socket, const HttpRequest& request, const Visit& visit);
    void serveVisitFormUpload(Socket& socket, const HttpRequest& request, const Visit& visit);
    // Counts one use of the visit's link; false (the ended page sent) when it has
    // none left, was revoked, or the count could not be saved.
    bool countVisitUse(Socket& socket, const HttpRequest& request, const Visit& visit);
    // Moves a drop box's finished part to name or, when that is taken, "name (2)"
    // and on; the name it got, or nullopt.
    std::optional<std::string> settleDropped(const Visit& visit, const std::string& partial, const std::string& name);
    // One line in the log for a use of a link (or a refusal of one).
    void logVisit(const Visit& visit, const HttpRequest& request, std::string_view action, std::string_view path);

    UserTable& users_;
    const LoginGuard* logins_;
    WebSessions& sessions_;
    bool secureCookie_;
    WebAppShares shares_;
    std::function<WebClock::time_point()> clock_;
    std::atomic<int>* activeSends_ = nullptr;
};

}  // namespace corvel
