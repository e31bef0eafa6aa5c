// Routes of the web client.
#include "web/WebApp.h"

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "common/Permissions.h"
#include "files/CrowdedSend.h"
#include "platform/Socket.h"
#include "web/HttpText.h"
#include "web/MultipartStream.h"
#include "web/WebAppPages.h"
#include "web/WebAppText.h"
#include "web/WebPages.h"
#include "web/WebRequestHandler.h"
#include "web/WebAppSupport.h"
#include "web/ZipStream.h"

namespace corvel {

using namespace app;

namespace {

// A part of an upload untouched this long is taken for abandoned.
constexpr std::time_t kStalePartSeconds = 24 * 60 * 60;
constexpr std::string_view kPartialPrefix = ".";
constexpr std::string_view kPartialSuffix = ".corvel-upload";

}  // namespace

std::string partialUploadName(std::string_view name) {
    return std::string(kPartialPrefix) + std::string(name) + std::string(kPartialSuffix);
}

bool isPartialUploadName(std::string_view name) {
    return name.size() > kPartialPrefix.size() + kPartialSuffix.size() && name.substr(0, 1) == kPartialPrefix &&
           name.substr(name.size() - kPartialSuffix.size()) == kPartialSuffix;
}

WebApp::WebApp(UserTable& users, const LoginGuard* logins, WebSessions& sessions, bool secureCookie,
               WebAppShares shares, std::function<WebClock::time_point()> clock)
    : users_(users),
      logins_(logins),
      sessions_(sessions),
      secureCookie_(secureCookie),
      shares_(shares),
      clock_(std::move(clock)) {}

bool WebApp::handles(std::string_view path) { return path == "app" || path.substr(0, 4) == "app/"; }

FileService WebApp::filesOf(const std::string& user) const {
    std::string home;
    users_.homeDirectoryOf(user, home);
    // SECURITY: always the account's own rights, whatever <webpolicy> says.
    return FileService(home, users_.privilegesOf(user));
}

std::optional<WebApp::Caller> WebApp::callerOf(const HttpRequest& request, bool& basicFailed) {
    // SECURITY: a browser's request that changes something carries the Origin (or
    // Referer) of the page that sent it; one from another site, or none, changes nothing.
    const bool fromThisSite = (!request.origin.empty() || !request.referer.empty()) && isSameOriginRequest(request);
    const std::string cookie = cookieValue(request.cookie, kSessionCookieName);
    if (!cookie.empty()) {
        if (std::optional<WebSession> session = sessions_.use(cookie, clock_())) {
            // A disabled or removed account ends its sessions at once; a changed
            // password (on any port, by corvelctl or the console) ends every
            // session signed in with the old one.
            if (!accountIsActive(users_, session->user)) {
                sessions_.closeAllOf(session->user);
            } else if (!equalSecrets(session->passwordStamp, storedPasswordOf(users_, session->user))) {
                sessions_.close(cookie);
            } else {
                std::string sent = request.csrfToken;
                if (sent.empty()) sent = formField(request.query, "csrf").value_or("");
                const bool tokenOk = !sent.empty() && equalSecrets(sent, session->csrfToken);
                return Caller{session->user, session->csrfToken, tokenOk && fromThisSite, fromThisSite};
            }
        }
    }
    if (!request.sentCredentials) return std::nullopt;
    // HTTP Basic, for scripts: reported as every web login is (delayed, logged,
    // counted for bans). SECURITY: a browser sends cached credentials along with a
    // form another site posts, so a change needs the X-CSRF-Token header, which
    // such a form cannot set and another site's script cannot send without a
    // preflight this server never allows.
    const bool ok = users_.authenticate(request.user, request.password);
    if (logins_) {
        if (ok)
            logins_->succeeded(LoginService::Web, request.peerAddress, request.user);
        else
            logins_->failed(LoginService::Web, request.peerAddress, request.user);
    }
    if (!ok) {
        basicFailed = true;
        return std::nullopt;
    }
    const bool sameOrNoOrigin = isSameOriginRequest(request);
    return Caller{request.user, std::string(), !request.csrfToken.empty() && sameOrNoOrigin, fromThisSite};
}

void WebApp::handle(Socket& socket, const HttpRequest& request) {
    if (request.path == "app") return redirect(socket, request, "/app/");
    const std::string route = request.path.substr(4);
    const bool reading = request.method == HttpMethod::Get || request.method == HttpMethod::Head;
    if (route == "app.css") return sendAnswer(socket, request, 200, "text/css; charset=utf-8", kAppStyleSheet);
    if (route == "app.js") return sendAnswer(socket, request, 200, "text/javascript; charset=utf-8", kAppScript);
    // A share link's visitor signs in to nothing: the link's token is the key.
    if (shares_.store && route.rfind("s/", 0) == 0) return serveVisit(socket, request, route);
    if (route == "login") {
        if (request.method == HttpMethod::Post) return serveLogin(socket, request);
        if (!sessions_.use(cookieValue(request.cookie, kSessionCookieName), clock_()).has_value())
            return sendAnswer(socket, request, 200, kHtml, loginPage({}));
        return redirect(socket, request, "/app/");
    }

    bool basicFailed = false;
    std::optional<Caller> caller = callerOf(request, basicFailed);
    if (!caller) {
        // A browser whose session ended goes to the sign-in page; only a script that
        // tried Basic is asked for it again (a challenge would make a browser prompt).
        if (reading && !basicFailed) return redirect(socket, request, "/app/login");
        return sendAnswer(socket, request, 401, kHtml, loginPage("Please sign in."),
                          basicFailed ? "WWW-Authenticate: Basic realm=\"CorvelFtp\", charset=\"UTF-8\"\r\n" : "");
    }
    // The form's token comes inside its body, so the form upload checks it there.
    if (route == "send" && request.method == HttpMethod::Post) return serveFormUpload(socket, request, *caller);
    if (!reading && !caller->mayChange) {
        // SECURITY: nothing is looked at, so a forged request learns nothing either.
        return sendAnswer(
            socket, request, 403, kHtml,
            messagePage("Not done",
                        "This request did not come from this site's own page (its token or its origin is missing "
                        "or wrong), so nothing was changed. Reload the page and try again.",
                        ""));
    }
    if (route.empty() && reading) return serveFolder(socket, request, *caller);
    if (route == "download" && reading) return serveDownload(socket, request, *caller);
    if (route == "zip" && request.method == HttpMethod::Get) return serveZip(socket, request, *caller);
    if (route == "upload" && reading) return serveUploadStatus(socket, request, *caller);
    if (route == "upload" && request.method == HttpMethod::Put) return serveUpload(socket, request, *caller);
    if (route == "logout" && request.method == HttpMethod::Post) return serveLogout(socket, request, *caller);
    if ((route == "mkdir" || route == "rename" || route == "delete") && request.method == HttpMethod::Post)
        return serveFolderChange(socket, request, *caller);
    if (shares_.store) {
        if (route == "shares" && reading) return serveShareList(socket, request, *caller);
        if (route == "share" && request.method == HttpMethod::Post) return serveShareMake(socket, request, *caller);
        if (route == "unshare" && request.method == HttpMethod::Post)
            return serveShareRevoke(socket, request, *caller);
    }
    sendAnswer(socket, request, 404, kHtml, messagePage("Not found", "There is no such page.", ""));
}

void WebApp::serveLogin(Socket& socket, const HttpRequest& request) {
    // SECURITY: a sign-in form posted by another site could sign the browser in to
    // an account of the attacker's; only this site's own form counts.
    if (request.origin.empty() && request.referer.empty()) {
        return sendAnswer(socket, request, 403, kHtml, loginPage("Sign in from this site's own page."));
    }
    if (!isSameOriginRequest(request))
        return sendAnswer(socket, request, 403, kHtml, loginPage("Sign in from this site's own page."));
    const std::string user = formField(request.query, "user").value_or("");
    const std::string password = formField(request.query, "password").value_or("");
    const bool ok = users_.authenticate(user, password);
    if (!ok) {
        // Delayed, logged and counted for bans like every other web login.
        if (logins_) logins_->failed(LoginService::Web, request.peerAddress, user);
        return sendAnswer(socket, request, 401, kHtml, loginPage("Wrong user name or password."));
    }
    if (logins_) logins_->succeeded(LoginService::Web, request.peerAddress, user);
    // Taken after the check, which may have stored the password in its new form.
    std::optional<std::string> cookie = sessions_.open(user, clock_(), storedPasswordOf(users_, user));
    if (!cookie) return sendAnswer(socket, request, 503, kHtml, loginPage("The server cannot make a session now."));
    std::string setCookie =
        "Set-Cookie: " + std::string(kSessionCookieName) + "=" + *cookie + "; Path=/app; HttpOnly; SameSite=Strict";
    if (secureCookie_) setCookie += "; Secure";
    setCookie += "\r\n";
    redirect(socket, request, "/app/", setCookie);
}

void WebApp::serveLogout(Socket& socket, const HttpRequest& request, const Caller& caller) {
    (void)caller;
    sessions_.close(cookieValue(request.cookie, kSessionCookieName));
    std::string clear = "Set-Cookie: " + std::string(kSessionCookieName) +
                        "=; Path=/app; Max-Age=0; HttpOnly; SameSite=Strict" + (secureCookie_ ? "; Secure" : "") +
                        "\r\n";
    redirect(socket, request, "/app/login", clear);
}

void WebApp::serveFolder(Socket& socket, const HttpRequest& request, const Caller& caller) {
    FileService files = filesOf(caller.user);
    const AppPath path(formField(request.query, "path").value_or(""));
    const auto listing = files.list(path.argument());
    if (!listing.ok()) return sendRefusalPage(socket, request, refusalOf(listing.status, "list this folder"), "");
    if (listing.value.kind() != EntryKind::Directory)
        return sendRefusalPage(socket, request, refusalOf(FileStatus::NotFound, ""), "");

    FolderView view;
    view.user = caller.user;
    view.folder = listing.normalised;
    view.csrfToken = caller.csrfToken;
    view.sort = appSortOf(request.query);
    view.rights = AppRights{.upload = files.permits(PERM_WRITE_FILE),
                            .makeFolder = files.permits(PERM_CREATE_DIR),
                            .removeFolder = files.permits(PERM_REMOVE_DIR),
                            .removeFile = files.permits(PERM_REMOVE_FILE),
                            .rename = files.permits(PERM_WRITE_FILE),
                            .download = files.permits(PERM_READ_FILE),
                            .list = files.permits(PERM_LIST)};
    view.sharing = shares_.store != nullptr;
    std::vector<std::string> staleParts;
    const std::time_t staleBefore = std::time(nullptr) - kStalePartSeconds;
    (void)listing.value.forEachEntry([&](const DirectoryEntry& entry) {
        if (entry.name == "." || entry.name == "..") return true;
        if (isPartialUploadName(entry.name)) {
            if (entry.info.kind == EntryKind::RegularFile && entry.info.lastWrite < staleBefore &&
                staleParts.size() < kMaxViewEntries)
                staleParts.push_back(entry.name);
            return true;
        }
        if (entry.info.kind != EntryKind::Directory && entry.info.kind != EntryKind::RegularFile) return true;
        view.entries.push_back(AppEntry{entry.name, entry.info.kind == EntryKind::Directory, entry.info.size,
                                        static_cast<std::int64_t>(entry.info.lastWrite)});
        return view.entries.size() < kMaxViewEntries;
    });
    sortEntries(view.entries, view.sort);
    // An upload that never finished leaves its part behind. One untouched for a day
    // goes when its folder is listed, before the page is sent (so whoever reads the
    // page finds it gone), by an account that may write there (it could start that
    // upload again, emptying the part, anyway); the part is the server's own, so no
    // Remove right is asked for.
    if (!staleParts.empty() && files.permits(PERM_WRITE_FILE)) {
        const FileService cleaner(files.home(), PERM_REMOVE_FILE);
        for (const std::string& name : staleParts) {
            const AppPath part(join(view.folder, name));
            (void)cleaner.removeFile(part.argument());
        }
    }
    sendAnswer(socket, request, 200, kHtml, folderPage(view));
}

void WebApp::serveDownload(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const std::string value = formField(request.query, "path").value_or("");
    const AppPath path(value);
    auto opened = filesOf(caller.user).openForReading(path.argument(), kTransferOpenAttempts);
    if (!opened.ok())
        return sendRefusalPage(socket, request, refusalOf(opened.status, "download files"), splitLast(value).first);
    ReadSource& source = opened.value;
    if (source.kind() != EntryKind::RegularFile || !source.isOpen())
        return sendRefusalPage(socket, request, refusalOf(FileStatus::NotFound, ""), splitLast(value).first);
    const std::string header = appHeader(200, "application/octet-stream", static_cast<std::uint64_t>(source.size()),
                                         dispositionOf(splitLast(opened.normalised).second));
    if (sendAll(socket, header) < 0 || request.method == HttpMethod::Head) return;
    const CrowdedSend sending(activeSends_, socket);
    source.transfer().sendOpenedLength(socket);
}

void WebApp::serveZip(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const std::string folder = formField(request.query, "path").value_or("");
    const std::vector<std::string> picks = formFields(request.query, "pick", kMaxZipPicks);
    streamZip(socket, request, filesOf(caller.user), folder, picks, "files", [] { return true; }, [&](FileStatus status) {
        sendRefusalPage(socket, request, refusalOf(status, "download folders"), "");
    });
}

void WebApp::streamZip(Socket& socket, const HttpRequest& request, const FileService& files, const std::string& folder,
                       const std::vector<std::string>& picks, std::string_view rootName,
                       const std::function<bool()>& admit, const std::function<void(FileStatus)>& refuseFor) {
    const AppPath path(folder);
    const auto resolved = files.resolve(path.argument());
    // The archive's top folder is the one asked for; the home (or the top of a
    // shared folder) is rootName.
    std::string root = resolved.ok() ? splitLast(resolved.normalised).second : std::string();
    if (root.empty()) root = rootName;
    // Every pick is checked before a byte goes out, so a refusal still gets its page:
    // a folder needs List and Read (forEachInTree checks them), a file Read.
    struct Pick {
        std::string name;
        bool folder = false;
    };
    std::vector<Pick> chosen;
    for (const std::string& name : picks) {
        if (!isSingleName(name) || isPartialUploadName(name)) return refuseFor(FileStatus::InvalidPath);
        const AppPath entry(join(folder, name));
        const auto seen = files.stat(entry.argument(), StatPurpose::Reading);
        if (!seen.ok()) return refuseFor(seen.status);
        if (seen.value.kind == EntryKind::Directory) {
            if (!files.permits(PERM_LIST)) return refuseFor(FileStatus::NoRight);
        } else if (seen.value.kind != EntryKind::RegularFile) {
            return refuseFor(FileStatus::NotFound);
        }
        if (std::none_of(chosen.begin(), chosen.end(), [&](const Pick& p) { return p.name == name; }))
            chosen.push_back({name, seen.value.kind == EntryKind::Directory});
    }
    // The folder itself; the top entry carries its time, as every folder below does.
    const auto here = files.stat(path.argument(), StatPurpose::Listing);
    if (chosen.empty()) {
        // The whole folder: the walk checks both rights and that a folder is there.
        if (!files.permits(PERM_LIST) || !files.permits(PERM_READ_FILE)) return refuseFor(FileStatus::NoRight);
        if (!resolved.ok()) return refuseFor(resolved.status);
        if (!here.ok()) return refuseFor(here.status);
        if (here.value.kind != EntryKind::Directory) return refuseFor(FileStatus::NotFound);
    }
    if (!admit()) return;
    const std::string header = appHeaderWithoutLength(200, "application/zip", dispositionOf(root + ".zip"));
    if (sendAll(socket, header) < 0 || request.method == HttpMethod::Head) return;
    ZipStream zip(socket);
    if (!zip.addFolder(validUtf8(root), here.ok() ? here.value.lastWrite : 0)) return;
    // One walk: each entry below top, named in the archive under prefix.
    auto walk = [&](const std::string& top, const std::string& prefix) {
        const AppPath walked(top);
        return files.forEachInTree(walked.argument(), [&](const TreeEntry& entry, TransferFile* file) {
            if (isPartialUploadName(splitLast(entry.relative).second)) return true;
            const std::string name = validUtf8(prefix + "/" + entry.relative);
            if (entry.kind == EntryKind::Directory) return zip.addFolder(name, entry.lastWrite);
            // A file held by an upload, or unreadable, is left out rather than waited for.
            return file == nullptr || zip.addFile(name, entry.lastWrite, *file);
        });
    };
    if (chosen.empty()) {
        (void)walk(folder, root);
    } else {
        for (const Pick& pick : chosen) {
            if (!zip.good()) return;
            const std::string inside = join(folder, pick.name);
            const std::string name = validUtf8(root + "/" + pick.name);
            if (pick.folder) {
                const AppPath entry(inside);
                const auto seen = files.stat(entry.argument(), StatPurpose::Listing);
                if (!zip.addFolder(name, seen.ok() ? seen.value.lastWrite : 0)) return;
                (void)walk(inside, name);
                continue;
            }
            const AppPath entry(inside);
            auto opened = files.openForReading(entry.argument(), 1);
            if (!opened.ok() || !opened.value.isOpen() || opened.value.kind() != EntryKind::RegularFile) continue;
            const auto seen = files.stat(entry.argument(), StatPurpose::Reading);
            if (!zip.addFile(name, seen.ok() ? seen.value.lastWrite : 0, opened.value.transfer())) return;
        }
    }
    if (zip.good()) (void)zip.finish();
}

void WebApp::serveUploadStatus(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const auto [folder, name] = splitLast(formField(request.query, "path").value_or(""));
    if (!isSingleName(name) || isPartialUploadName(name))
        return sendJsonError(socket, request, 400, "That name cannot be used.");
    FileService files = filesOf(caller.user);
    const AppPath target(join(folder, name));
    const AppPath partial(join(folder, partialUploadName(name)));
    const auto seen = files.stat(target.argument(), StatPurpose::Writing);
    if (!seen.ok()) {
        const Refusal refusal = refusalOf(seen.status, "upload here");
        return sendJsonError(socket, request, refusal.status, refusal.text);
    }
    const auto part = files.stat(partial.argument(), StatPurpose::Writing);
    const std::int64_t received = part.ok() && part.value.kind == EntryKind::RegularFile ? part.value.size : 0;
    std::string body = "{\"received\":" + std::to_string(received) +
                       ",\"exists\":" + (seen.value.kind != EntryKind::None ? "true" : "false") +
                       ",\"folder\":" + (seen.value.kind == EntryKind::Directory ? "true" : "false") + "}";
    sendAnswer(socket, request, 200, kJson, body);
}

void WebApp::serveUpload(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const auto [folder, name] = splitLast(formField(request.query, "path").value_or(""));
    if (!isSingleName(name) || isPartialUploadName(name))
        return sendJsonError(socket, request, 400, "That name cannot be used.");
    const bool replace = formField(request.query, "replace").value_or("") == "1";
    const std::optional<ChunkPlace> place = chunkPlaceOf(socket, request);
    if (!place) return;

    FileService files = filesOf(caller.user);
    const AppPath target(join(folder, name));
    const AppPath partial(join(folder, partialUploadName(name)));
    auto refuse = [&](FileStatus status, std::int64_t received = -1) {
        const Refusal refusal = refusalOf(status, "upload here");
        sendJsonError(socket, request, refusal.status, refusal.text, received);
    };
    if (place->offset == 0) {
        // A file is replaced only when the client says so (after asking its user);
        // asked before a byte is written, so a refused upload costs nothing.
        const auto seen = files.stat(target.argument(), StatPurpose::Writing);
        if (!seen.ok()) return refuse(seen.status);
        if (seen.value.kind == EntryKind::Directory) return refuse(FileStatus::WrongKind);
        if (seen.value.kind != EntryKind::None && !replace)
            return sendJsonError(socket, request, 409, "A file of that name is there; send replace=1 to replace it.");
    }
    const std::optional<std::int64_t> received =
        receiveUploadChunk(socket, request, files, partial.argument(), place->offset, "upload here");
    if (!received) return;
    const std::int64_t stored = *received;
    if (place->done) {
        if (stored != place->total)
            return sendJsonError(socket, request, 409, "The stored part does not hold the whole file.", stored);
        const auto moved = replace ? files.replaceByRename(partial.argument(), target.argument())
                                   : files.rename(partial.argument(), target.argument());
        if (!moved.ok()) return refuse(moved.status, stored);
    }
    sendAnswer(socket, request, 200, kJson,
               "{\"received\":" + std::to_string(stored) + ",\"done\":" + (place->done ? "true" : "false") + "}");
}

void WebApp::serveFolderChange(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const std::string route = request.path.substr(4);
    const std::string path = formField(request.query, "path").value_or("");
    const std::string name = formField(request.query, "name").value_or("");
    FileService files = filesOf(caller.user);
    std::string back;
    FileStatus status = FileStatus::Ok;
    std::string_view action;
    if (route == "mkdir") {
        back = VirtualPath::parse(path, '/').joined();
        action = "make folders here";
        if (!isSingleName(name) || isPartialUploadName(name)) {
            status = FileStatus::InvalidPath;
        } else {
            const AppPath folder(join(path, name));
            status = files.makeFolder(folder.argument()).status;
        }
    } else if (route == "rename") {
        auto [parent, oldName] = splitLast(path);
        back = parent;
        action = "rename here";
        if (oldName.empty() || !isSingleName(name) || isPartialUploadName(name)) {
            status = FileStatus::InvalidPath;
        } else {
            const AppPath from(path);
            const AppPath to(join(parent, name));
            status = files.rename(from.argument(), to.argument()).status;
        }
    } else {
        back = splitLast(path).first;
        const AppPath entry(path);
        const bool folder = formField(request.query, "kind").value_or("") == "folder";
        action = folder ? "remove folders here" : "delete files here";
        status = splitLast(path).second.empty()
                     ? FileStatus::InvalidPath
                     : (folder ? files.removeFolder(entry.argument()) : files.removeFile(entry.argument())).status;
    }
    if (status != FileStatus::Ok) return sendRefusalPage(socket, request, refusalOf(status, action), back);
    redirect(socket, request, folderLink(back));
}

void WebApp::serveFormUpload(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const std::string folder = formField(request.query, "path").value_or("");
    // SECURITY: only a signed-in browser's own page sends this form; its token,
    // which comes first in the body, is checked before a byte is written.
    if (caller.csrfToken.empty() || !caller.fromThisSite)
        return sendRefusalPage(socket, request, {403, "This form did not come from this site's own page."}, folder);
    if (request.sentTransferEncoding || request.contentLength <= 0)
        return sendRefusalPage(socket, request, {411, "The upload did not say its length."}, folder);
    const std::optional<std::string> boundary = multipartBoundary(request.contentType);
    if (!boundary) return sendRefusalPage(socket, request, {400, "The upload is no form of files."}, folder);

    FileService files = filesOf(caller.user);
    bool readingToken = false;
    bool tokenOk = false;
    std::string token;
    std::optional<TransferFile> current;  // the file part being written, beside its name
    std::string currentName;
    bool diskFailed = false;
    std::vector<std::pair<std::string, Refusal>> refused;
    std::vector<std::string> uploaded;

    MultipartHandler handler;
    handler.partStart = [&](const PartHeader& part) {
        if (part.name == "csrf") {
            readingToken = true;
            return true;
        }
        if (!tokenOk) return false;
        if (!part.fileName || part.fileName->empty()) return true;  // another field, or no file chosen
        currentName = baseNameOf(*part.fileName);
        if (!isSingleName(currentName) || isPartialUploadName(currentName)) {
            refused.emplace_back(currentName, refusalOf(FileStatus::InvalidPath, ""));
            return true;
        }
        const AppPath target(join(folder, currentName));
        const auto seen = files.stat(target.argument(), StatPurpose::Writing);
        if (!seen.ok() || seen.value.kind != EntryKind::None) {
            // Without the page's script nobody could be asked, so nothing is replaced.
            refused.emplace_back(currentName, seen.ok() ? Refusal{409,
                                                                  "A file of that name is there; it was not "
                                                                  "replaced."}
                                                        : refusalOf(seen.status, "upload here"));
            return true;
        }
        const AppPath partial(join(folder, partialUploadName(currentName)));
        auto opened = files.openForWritingAt(partial.argument(), 0);
        if (!opened.ok()) {
            refused.emplace_back(currentName, refusalOf(opened.status, "upload here"));
            return true;
        }
        current = std::move(opened.value);
        diskFailed = false;
        return true;
    };
    handler.partBytes = [&](std::string_view bytes) {
        if (readingToken) {
            token.append(bytes.substr(0, std::min<std::size_t>(bytes.size(), 2 * kWebSecretBytes + 1)));
            return token.size() <= 2 * kWebSecretBytes;
        }
        if (current && !diskFailed && !current->write(bytes)) diskFailed = true;
        return true;
    };
    handler.partEnd = [&] {
        if (readingToken) {
            readingToken = false;
            tokenOk = equalSecrets(token, caller.csrfToken);
            return tokenOk;
        }
        if (!current) return true;
        current.reset();  // the lock goes before the rename
        const AppPath target(join(folder, currentName));
        const AppPath partial(join(folder, partialUploadName(currentName)));
        if (diskFailed) {
            refused.emplace_back(currentName, refusalOf(FileStatus::Refused, ""));
            return true;
        }
        const auto moved = files.rename(partial.argument(), target.argument());
        if (moved.ok())
            uploaded.push_back(currentName);
        else
            refused.emplace_back(currentName, refusalOf(moved.status, "upload here"));
        return true;
    };
    MultipartStream body(*boundary, std::move(handler));
    allowBody(socket, request);
    const bool whole = readBody(socket, request.bodyStart, request.contentLength, [&](std::string_view bytes) {
        return body.feed(bytes) == MultipartStream::State::Reading;
    });
    if (!tokenOk) {
        return sendRefusalPage(socket, request,
                               {403, "This form did not carry the page's token, so nothing was changed."}, folder);
    }
    if (!whole || body.state() != MultipartStream::State::Finished)
        refused.emplace_back("", Refusal{400, "The upload broke off or was malformed; what arrived whole is kept."});
    if (refused.empty()) return redirect(socket, request, folderLink(folder));
    std::string text;
    for (const std::string& name : uploaded) text += name + ": uploaded. ";
    for (const auto& [name, refusal] : refused) text += (name.empty() ? "" : name + ": ") + refusal.text + " ";
    sendRefusalPage(socket, request, {refused.front().second.status, text}, folder);
}

}  // namespace corvel
