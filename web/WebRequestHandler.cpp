// Routes and page building of the web browser.
#include "web/WebRequestHandler.h"

#include <optional>
#include <vector>

#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "files/CrowdedSend.h"
#include "files/ListEntry.h"
#include "files/VirtualPath.h"
#include "platform/Socket.h"
#include "web/HealthCheck.h"
#include "web/HttpText.h"
#include "web/Icons.h"
#include "web/WebPages.h"

namespace corvel {

namespace {

// How much of an answer goes out: all of it, or for HEAD its header block only.
enum class Body { Send, Omit };

Body bodyOf(const HttpRequest& request) { return request.method == HttpMethod::Head ? Body::Omit : Body::Send; }

// Writes a whole answer, or only its header block when the body is omitted.
void sendPage(Socket& socket, const HttpRequest& request, std::string_view page) {
    if (bodyOf(request) == Body::Omit) page = headerOf(page);
    sendAll(socket, page.data(), page.size());
}

// A listing page is written in pieces of about this size, so a huge folder never
// needs its whole page in memory; the bytes on the wire are the same.
constexpr std::size_t kListingFlushBytes = 64u << 10;

// A "path" value as the file service takes it: from the home, "/" and "\\" both
// separating names, refused past the web's capacity.
PathArgument webPath(const std::string& pathValue) { return {pathValue, '\\', kMaxWebPathBytes}; }

// The "path" value of a request; empty when absent. SECURITY: a NUL in it stays, so
// that "f.bin%00.txt" names no file (and gets the 404 page) instead of f.bin.
std::string pathValueOf(const HttpRequest& request) {
    return getQueryParamBytes(request.query, "path").value_or(std::string());
}

std::string homeOf(const UserTable& users, const std::string& user) {
    std::string home;
    users.homeDirectoryOf(user, home);
    return home;
}

// The page a refused path gets: the 401 page for a missing right or a path above
// the home (the one thing that helps is another account), the 404 page otherwise.
enum class Refusal { Unauthorized, NotFound };

Refusal refusalOf(FileStatus status) {
    return status == FileStatus::NoRight || status == FileStatus::Escaped ? Refusal::Unauthorized
                                                                           : Refusal::NotFound;
}

// The host and port of an absolute URL ("http://Host:8080/x" gives "host:8080"),
// with the scheme's default port dropped; empty when text is no such URL.
std::string authorityOf(std::string_view url) {
    const std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) return {};
    const std::string_view scheme = url.substr(0, schemeEnd);
    std::string_view rest = url.substr(schemeEnd + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    std::string authority = asciiLower(rest);
    const std::string defaultPort = asciiLower(scheme) == "https" ? ":443" : ":80";
    if (authority.size() > defaultPort.size() &&
        authority.compare(authority.size() - defaultPort.size(), defaultPort.size(), defaultPort) == 0)
        authority.resize(authority.size() - defaultPort.size());
    return authority;
}

std::string hostWithoutDefaultPort(std::string_view host) {
    std::string lowered = asciiLower(host);
    for (const char* port : {":80", ":443"}) {
        const std::string_view p(port);
        if (lowered.size() > p.size() && lowered.compare(lowered.size() - p.size(), p.size(), p) == 0) {
            lowered.resize(lowered.size() - p.size());
            break;
        }
    }
    return lowered;
}

}  // namespace

bool isSameOriginRequest(const HttpRequest& request) {
    const std::string& source = !request.origin.empty() ? request.origin : request.referer;
    if (source.empty()) return true;
    const std::string authority = authorityOf(source);
    return !authority.empty() && authority == hostWithoutDefaultPort(request.host);
}

namespace {
constexpr char kPasswordNotUpdated[] = "<font color=\"red\">Password can not be updated</font>";
}  // namespace

WebRequestHandler::WebRequestHandler(UserTable& users, HostNameSource hostName, const LoginGuard* logins,
                                     WebFeatures features, std::string pageCharset)
    : users_(users),
      hostName_(std::move(hostName)),
      logins_(logins),
      features_(features),
      pageCharset_(std::move(pageCharset)),
      unauthorizedPage_(withCharset(kUnauthorizedPage, pageCharset_)),
      notFoundPage_(withCharset(kNotFoundPage, pageCharset_)) {}

bool WebRequestHandler::authenticated(const HttpRequest& request) {
    const bool ok = users_.authenticate(request.user, request.password);
    // A request without credentials is the browser asking how to log in, not a guess.
    if (logins_ && request.sentCredentials) {
        if (ok)
            logins_->succeeded(LoginService::Web, request.peerAddress, request.user);
        else
            logins_->failed(LoginService::Web, request.peerAddress, request.user);
    }
    return ok;
}

FileService WebRequestHandler::filesOf(const HttpRequest& request) const {
    // SECURITY: localPathOf refuses an empty or relative home (an account found by
    // the anonymous switch but missing from the table has none), so nothing outside
    // a home directory is ever served. Without <webpolicy> the web has always served
    // the whole home, whatever the account's rights.
    constexpr std::uint32_t kEveryRight = ~std::uint32_t{0};
    return FileService(homeOf(users_, request.user),
                       features_.rights ? users_.privilegesOf(request.user) : kEveryRight);
}

void WebRequestHandler::sendRefusal(Socket& socket, const HttpRequest& request, FileStatus status) {
    sendPage(socket, request, refusalOf(status) == Refusal::Unauthorized ? unauthorizedPage_ : notFoundPage_);
}

std::string WebRequestHandler::frameStart(const HttpRequest& request) {
    return withCharset(pageFrameStart(hostName_ ? hostName_() : std::string(), request.user), pageCharset_);
}

void WebRequestHandler::handle(Socket& socket, const HttpRequest& request) {
    if (features_.health && isHealthCheck(request)) return sendPage(socket, request, kHealthAnswer);
    // SECURITY: every route, the icons included, needs a successful login.
    if (!authenticated(request)) return sendPage(socket, request, unauthorizedPage_);
    if (loginListener_) loginListener_(request.user);
    // SECURITY: with <webpolicy>, the listing needs List and a download Read File, as
    // on the FTP port (the file service checks them before it looks at the path, so
    // a refusal tells nothing about what exists); the icons and the password pages
    // need no right.
    const std::string& path = request.path;
    if (path.empty() || path == "list.html") {
        serveListing(socket, request);
    } else if (const WebIcon* icon = findWebIcon(path)) {
        std::string header = iconHeader(icon->routeName, icon->size,
                                        features_.ranges ? ContentTypeForm::OneLine : ContentTypeForm::Folded);
        if (sendAll(socket, header) >= 0 && bodyOf(request) == Body::Send)
            sendAll(socket, reinterpret_cast<const char*>(icon->bytes), icon->size);
    } else if (path == "download.html") {
        serveDownload(socket, request);
    } else if (path == "config.html") {
        servePasswordForm(socket, request);
    } else if (path == "update_password.html") {
        servePasswordUpdate(socket, request);
    } else {
        sendPage(socket, request, notFoundPage_);
    }
}

void WebRequestHandler::serveListing(Socket& socket, const HttpRequest& request) {
    std::string pathValue = pathValueOf(request);
    const auto listing = filesOf(request).list(webPath(pathValue));
    if (!listing.ok()) return sendRefusal(socket, request, listing.status);
    const FolderListing& folder = listing.value;
    if (folder.kind() != EntryKind::Directory) return sendPage(socket, request, notFoundPage_);

    std::string page = frameStart(request);
    // HEAD: the header block of the page; the folder is not read.
    if (bodyOf(request) == Body::Omit) return sendPage(socket, request, page);
    page += "</h1><hr width=\"900\" align=\"left\">";
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"5\">";
    // Rows go out in pieces as the folder is read, so a huge folder never needs its
    // listing or its page in memory; the bytes on the wire are the same.
    std::size_t position = 0;
    bool sent = true;
    (void)folder.forEachListEntry([&](const ListEntry& entry) {
        const std::size_t i = position++;
        // Escaped is ignored here: the ".." of the home directory links to the home.
        VirtualPath link = VirtualPath::parse(pathValue + "/" + entry.name, '/');
        if (!link.valid()) return true;
        std::string encoded = encodeLinkPath(link.joined());
        std::string_view colour = rowColour(i);
        if (entry.isDirectory()) {
            if (entry.name == "..") {
                page += upRow(colour, encoded);
            } else if (entry.name != ".") {
                page += folderRow(colour, encoded, entry.name, entry.size, entry.date);
            }
        } else {
            page += fileRow(colour, encoded, entry.name, entry.size, entry.date);
        }
        if (page.size() < kListingFlushBytes) return true;
        sent = sendAll(socket, page) >= 0;
        page.clear();
        return sent;
    });
    if (!sent) return;
    page += "</table>";
    page += kPageFooter;
    sendPage(socket, request, page);
}

void WebRequestHandler::serveDownload(Socket& socket, const HttpRequest& request) {
    std::string pathValue = pathValueOf(request);
    // Opened (and share-locked against our own uploads) before the header goes out,
    // and the length announced is the length of that open file, so it is the length
    // sent; a folder, nothing, or a file that cannot be read gets the 404 page.
    auto opened = filesOf(request).openForReading(webPath(pathValue), kTransferOpenAttempts);
    if (!opened.ok()) return sendRefusal(socket, request, opened.status);
    ReadSource& source = opened.value;
    if (source.kind() != EntryKind::RegularFile || !source.isOpen()) return sendPage(socket, request, notFoundPage_);

    std::string lowered = asciiLower(pathValue);
    std::string_view type = mimeTypes_.contentTypeFor(fileExtensionOf(lowered));
    if (!features_.ranges) {
        // The designed download: always the whole file, whatever Range says.
        std::string header = downloadHeader(type, downloadNameOf(lowered), std::to_string(source.size()));
        if (sendAll(socket, header) < 0 || bodyOf(request) == Body::Omit) return;
        const auto started = std::chrono::steady_clock::now();
        const CrowdedSend sending(activeSends_, socket);
        const TransferResult result = source.transfer().sendOpenedLength(socket);
        recordDownload(socket, request, source.localPath(), started, result, source.size(), header.size());
        return;
    }
    // Only a GET has ranges (a HEAD or a form ignores Range, as RFC 9110 says). An
    // If-Range never matches: no validator is ever sent, so a client holding one got
    // it elsewhere and must get the whole file as it is now.
    RangeChoice choice;
    if (request.method == HttpMethod::Get && !request.sentIfRange) choice = chooseRange(request.range, source.size());
    if (choice.kind == RangeChoice::Kind::Unsatisfiable)
        return sendPage(socket, request, withCharset(rangeNotSatisfiablePage(source.size()), pageCharset_));
    std::string header = extendedDownloadHeader(type, downloadNameOf(lowered), source.size(), choice);
    if (sendAll(socket, header) < 0 || bodyOf(request) == Body::Omit) return;
    const auto started = std::chrono::steady_clock::now();
    // Never past the size the file was opened with, which the header announced, so
    // a file that grows meanwhile still sends exactly that.
    const bool part = choice.kind == RangeChoice::Kind::Part;
    const CrowdedSend sending(activeSends_, socket);
    const TransferResult result = part ? source.transfer().sendRange(socket, choice.first, choice.last + 1)
                                       : source.transfer().sendOpenedLength(socket);
    recordDownload(socket, request, source.localPath(), started, result,
                   part ? choice.last + 1 - choice.first : source.size(), header.size());
}

void WebRequestHandler::servePasswordForm(Socket& socket, const HttpRequest& request) {
    std::string page = frameStart(request);
    page +=
        "</h1><hr width=\"900\" align=\"left\"><form method=\"POST\" action=\"update_password.html\">"
        "New Password: <input type=\"password\" name=\"new_pwd\" size=20> Verify Password: "
        "<input type=\"password\" name=\"new_pwd_confirm\" size=20> <input type=\"submit\" value=\"Update\"></form>";
    page += kPageFooter;
    sendPage(socket, request, page);
}

void WebRequestHandler::servePasswordUpdate(Socket& socket, const HttpRequest& request) {
    std::string page = frameStart(request);
    page += "</h1><hr width=\"900\" align=\"left\"><b>Password</b><br>";
    std::string newPassword = getQueryParam(request.query, "new_pwd").value_or(std::string());
    std::string confirm = getQueryParam(request.query, "new_pwd_confirm").value_or(std::string());
    if (request.method != HttpMethod::Post || !isSameOriginRequest(request) ||
        users_.logsInWithoutPassword(request.user)) {
        // SECURITY: a link (GET), a form posted by another site (the browser sends the
        // cached credentials along) and an account without a password of its own
        // change nothing.
        page += kPasswordNotUpdated;
    } else if (newPassword != confirm) {
        page += "<font color=\"red\">Password and verify password are not same.</font>";
    } else if (newPassword.empty()) {
        page += "<font color=\"red\">Password can not be empty</font>";
    } else if (newPassword.size() > kMaxWebPasswordBytes) {
        // SECURITY: refused rather than cut, so the stored password is the one typed.
        page += "<font color=\"red\">Password can not be longer than 63 characters</font>";
    } else if (users_.updatePassword(request.user, newPassword)) {
        page += "<font color=\"green\">Update Successfully</font>";
    } else {
        // A change that could not be stored is said so; the old password still works.
        page += kPasswordNotUpdated;
    }
    page += kPageFooter;
    sendPage(socket, request, page);
}

}  // namespace corvel
