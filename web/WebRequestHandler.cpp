// Routes and page building of the web browser.
#include "web/WebRequestHandler.h"

#include <optional>
#include <vector>

#include "accounts/UserTable.h"
#include "ftp/ListEntry.h"
#include "ftp/LocalFile.h"
#include "ftp/PathResolution.h"
#include "ftp/VirtualPath.h"
#include "platform/Socket.h"
#include "web/HttpText.h"
#include "web/Icons.h"
#include "web/WebPages.h"

namespace corvel {

namespace {

void sendPage(Socket& socket, std::string_view page) { sendAll(socket, page.data(), page.size()); }

// A listing page is written in pieces of about this size, so a huge folder never
// needs its whole page in memory; the bytes on the wire are the same.
constexpr std::size_t kListingFlushBytes = 64u << 10;

// Where a "path" value leads below the home directory.
struct PathTarget {
    enum class Kind { Local, NotFound, Unauthorized } kind = Kind::NotFound;
    std::string localPath;
};

PathTarget resolveWebPath(const std::string& home, const std::string& pathValue) {
    // SECURITY: values past their capacity are refused, never cut to fit.
    if (pathValue.size() > kMaxWebPathBytes) return {};
    VirtualPath parsed = VirtualPath::parse(pathValue, '\\');
    if (!parsed.valid()) return {};
    if (parsed.escaped()) return {PathTarget::Kind::Unauthorized, {}};
    // SECURITY: localPathOf refuses an empty or relative home (an account found by
    // the anonymous switch but missing from the table has none), so nothing outside
    // a home directory is ever served.
    std::optional<std::string> local = localPathOf(home, parsed);
    if (!local) return {};
    return {PathTarget::Kind::Local, std::move(*local)};
}

std::string homeOf(const UserTable& users, const std::string& user) {
    std::string home;
    users.homeDirectoryOf(user, home);
    return home;
}

}  // namespace

WebRequestHandler::WebRequestHandler(UserTable& users, HostNameSource hostName)
    : users_(users), hostName_(std::move(hostName)) {}

std::string WebRequestHandler::frameStart(const HttpRequest& request) {
    return pageFrameStart(hostName_ ? hostName_() : std::string(), request.user);
}

void WebRequestHandler::handle(Socket& socket, const HttpRequest& request) {
    // SECURITY: every route, the icons included, needs a successful login.
    if (!users_.authenticate(request.user, request.password)) {
        sendPage(socket, kUnauthorizedPage);
        return;
    }
    const std::string& path = request.path;
    if (path.empty() || path == "list.html") {
        serveListing(socket, request);
    } else if (const WebIcon* icon = findWebIcon(path)) {
        std::string header = iconHeader(icon->routeName, icon->size);
        if (sendAll(socket, header) >= 0) sendAll(socket, reinterpret_cast<const char*>(icon->bytes), icon->size);
    } else if (path == "download.html") {
        serveDownload(socket, request);
    } else if (path == "config.html") {
        servePasswordForm(socket, request);
    } else if (path == "update_password.html") {
        servePasswordUpdate(socket, request);
    } else {
        sendPage(socket, kNotFoundPage);
    }
}

void WebRequestHandler::serveListing(Socket& socket, const HttpRequest& request) {
    std::string pathValue = getQueryParam(request.query, "path").value_or(std::string());
    PathTarget target = resolveWebPath(homeOf(users_, request.user), pathValue);
    if (target.kind == PathTarget::Kind::Unauthorized) return sendPage(socket, kUnauthorizedPage);
    if (target.kind != PathTarget::Kind::Local) return sendPage(socket, kNotFoundPage);
    LocalFile folder(target.localPath);
    if (!folder.isDirectory()) return sendPage(socket, kNotFoundPage);

    std::vector<ListEntry> listing;
    folder.list(listing);

    std::string page = frameStart(request);
    page += "</h1><hr width=\"900\" align=\"left\">";
    page += "<table border=\"0\" cellspacing=\"0\" cellpadding=\"5\">";
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const ListEntry& entry = listing[i];
        // Escaped is ignored here: the ".." of the home directory links to the home.
        VirtualPath link = VirtualPath::parse(pathValue + "/" + entry.name, '/');
        if (!link.valid()) continue;
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
        if (page.size() >= kListingFlushBytes) {
            if (sendAll(socket, page) < 0) return;
            page.clear();
        }
    }
    page += "</table>";
    page += kPageFooter;
    sendPage(socket, page);
}

void WebRequestHandler::serveDownload(Socket& socket, const HttpRequest& request) {
    std::string pathValue = getQueryParam(request.query, "path").value_or(std::string());
    PathTarget target = resolveWebPath(homeOf(users_, request.user), pathValue);
    if (target.kind == PathTarget::Kind::Unauthorized) return sendPage(socket, kUnauthorizedPage);
    if (target.kind != PathTarget::Kind::Local) return sendPage(socket, kNotFoundPage);
    LocalFile file(target.localPath);
    if (!file.isFile()) return sendPage(socket, kNotFoundPage);
    // Opened (and share-locked against our own uploads) before the header goes out,
    // so the announced size is the size sent and a file that cannot be read gets
    // the 404 page instead of a header with no body.
    std::optional<TransferFile> opened = file.openForSending();
    std::optional<std::string> sizeText = opened ? file.sizeText() : std::nullopt;
    if (!sizeText) return sendPage(socket, kNotFoundPage);

    std::string lowered = asciiLower(pathValue);
    std::string_view type = mimeTypes_.contentTypeFor(fileExtensionOf(lowered));
    std::string header = downloadHeader(type, downloadNameOf(lowered), *sizeText);
    if (sendAll(socket, header) < 0) return;
    // Always the whole file: ranges are not served.
    opened->sendTo(socket, 0);
}

void WebRequestHandler::servePasswordForm(Socket& socket, const HttpRequest& request) {
    std::string page = frameStart(request);
    page +=
        "</h1><hr width=\"900\" align=\"left\"><form method=\"POST\" action=\"update_password.html\">"
        "New Password: <input type=\"password\" name=\"new_pwd\" size=20> Verify Password: "
        "<input type=\"password\" name=\"new_pwd_confirm\" size=20> <input type=\"submit\" value=\"Update\"></form>";
    page += kPageFooter;
    sendPage(socket, page);
}

void WebRequestHandler::servePasswordUpdate(Socket& socket, const HttpRequest& request) {
    std::string page = frameStart(request);
    page += "</h1><hr width=\"900\" align=\"left\"><b>Password</b><br>";
    std::string newPassword = getQueryParam(request.query, "new_pwd").value_or(std::string());
    std::string confirm = getQueryParam(request.query, "new_pwd_confirm").value_or(std::string());
    if (newPassword != confirm) {
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
        page += "<font color=\"red\">Password can not be updated</font>";
    }
    page += kPageFooter;
    sendPage(socket, page);
}

}  // namespace corvel
