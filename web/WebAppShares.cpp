// Routes of the share links: the owner's list, the making and revoking of links,
// and every visitor's request below /app/s/TOKEN.
#include <ctime>

#include "accounts/AccessPolicy.h"
#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "common/Permissions.h"
#include "files/CrowdedSend.h"
#include "platform/Socket.h"
#include "platform/SystemLog.h"
#include "web/HttpText.h"
#include "web/MultipartStream.h"
#include "web/SharePages.h"
#include "web/ShareStore.h"
#include "web/WebApp.h"
#include "web/WebAppPages.h"
#include "web/WebAppSupport.h"
#include "web/WebAppText.h"

namespace corvel {

using namespace app;

namespace {

// The cookie a visitor gets for a link's password; its path is the link's.
constexpr std::string_view kVisitCookieName = "corvel_share";
// Hex characters of the id a drop box upload names its part with: 128 bits the
// visitor's browser draws, so one visitor cannot write into another's part.
constexpr std::size_t kUploadIdChars = 32;
// Names a drop box tries for one file ("name", "name (2)", ...) before it gives up.
constexpr int kMaxDropNames = 1000;
// Most uses a link may be given.
constexpr std::int64_t kMaxShareUses = 1000000;
// Longest file or folder name (what Linux file systems take).
constexpr std::size_t kMaxNameBytes = 255;

std::int64_t wallNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

bool isUploadId(std::string_view text) {
    if (text.size() != kUploadIdChars) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// A drop box upload's part: hidden, named by its id alone, so the visitor's name
// (up to 255 bytes) never makes the part's name too long.
std::string dropPartName(std::string_view id) { return partialUploadName("drop-" + std::string(id)); }

// "report.pdf", then "report (2).pdf", "report (3).pdf", ...
std::string candidateName(const std::string& name, int n) {
    if (n == 1) return name;
    const std::string suffix = " (" + std::to_string(n) + ")";
    std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > 32) dot = name.size();
    std::string stem = name.substr(0, dot);
    const std::string tail = name.substr(dot);
    if (stem.size() + suffix.size() + tail.size() > kMaxNameBytes)
        stem.resize(kMaxNameBytes - suffix.size() - tail.size());
    return stem + suffix + tail;
}

std::string linkUrl(const HttpRequest& request, bool https, std::string_view token) {
    const std::string host = request.host.empty() ? std::string("localhost") : request.host;
    return std::string(https ? "https://" : "http://") + host + shareLinkPath(token);
}

std::string visitorOf(const ShareLink& link) { return "share:" + link.id; }

}  // namespace

struct WebApp::Visit {
    std::string token;
    std::string base;    // "/app/s/TOKEN"
    std::string action;  // what follows the token: "", "get", "zip", "upload", "send", "unlock"
    ShareLink link;
    FileService files;  // rooted at the shared file or folder, with the owner's rights of now
    std::string title;  // the shared file's or folder's own name
};

void WebApp::logVisit(const Visit& visit, const HttpRequest& request, std::string_view action,
                      std::string_view path) {
    if (!shares_.log) return;
    std::string line = "share " + std::string(action) + ": id=" + visit.link.id + " address=" + request.peerAddress +
                       " owner=" + quotedForLog(visit.link.owner);
    if (!path.empty()) line += " path=" + quotedForLog(path);
    shares_.log->write(LogSeverity::Information, line);
}

void WebApp::serveVisit(Socket& socket, const HttpRequest& request, std::string_view route) {
    // SECURITY: visitors meet the access policy as FTP clients do, whatever
    // <webpolicy> says (banned addresses never got this far); a refused one's
    // connection closes unanswered.
    if (shares_.policy && !shares_.policy->isAllowed(request.peerAddress)) return;
    const std::string_view rest = route.substr(2);
    const std::size_t slash = rest.find('/');
    Visit visit;
    visit.token = std::string(rest.substr(0, slash));
    visit.action = slash == std::string_view::npos ? std::string() : std::string(rest.substr(slash + 1));
    visit.base = shareLinkPath(visit.token);
    auto ended = [&] { sendAnswer(socket, request, 404, kHtml, shareEndedPage()); };
    if (!isShareTokenText(visit.token)) return ended();
    const ShareLookup found = shares_.store->find(visit.token);
    if (found.found == ShareFound::Unreadable)
        return sendAnswer(socket, request, 503, kHtml,
                          shareMessagePage(visit.base, "Not now", "The links cannot be read just now; try again later."));
    if (found.found == ShareFound::None) return ended();
    visit.link = found.link;
    auto refused = [&](std::string_view why) {
        logVisit(visit, request, "refused (" + std::string(why) + ")", {});
        ended();
    };
    if (visit.link.expiredAt(wallNow())) return refused("expired");
    if (visit.link.usedUp()) return refused("used up");
    // SECURITY: a link never grants more than its owner may do at the time of use:
    // a disabled or removed owner gives nothing, and the file service below has the
    // owner's rights of now, so a right taken away ends the link's use.
    if (!accountIsActive(users_, visit.link.owner)) return refused("owner disabled or removed");
    const FileService owner = filesOf(visit.link.owner);
    if (!owner.permits(ownerRightOf(visit.link.kind))) return refused("owner lacks the right");
    const AppPath root(visit.link.path);
    const auto resolved = owner.resolve(root.argument());
    if (!resolved.ok()) return refused("path outside the owner's home");
    // SECURITY: the visitor's paths are resolved inside the shared file or folder,
    // as an account's are inside its home.
    visit.files = FileService(resolved.value.localPath, owner.rights());
    visit.title = splitLast(resolved.normalised).second;
    if (visit.title.empty()) visit.title = "Shared folder";

    const bool reading = request.method == HttpMethod::Get || request.method == HttpMethod::Head;
    if (!visit.link.password.empty() && !visitorUnlocked(request, visit)) {
        if (visit.action == "unlock" && request.method == HttpMethod::Post)
            return serveVisitUnlock(socket, request, visit);
        return sendAnswer(socket, request, 401, kHtml,
                          sharePasswordPage(visit.base, request.sentCredentials ? "Wrong password." : ""));
    }
    // SECURITY: what a visitor sends (a password, files) comes from this site's own
    // pages or from a script, never from another site's form.
    if (!reading && !isSameOriginRequest(request))
        return sendAnswer(socket, request, 403, kHtml,
                          shareMessagePage(visit.base, "Not done", "This request came from another site's page."));
    if (visit.action == "unlock") return redirect(socket, request, visit.base);

    switch (visit.link.kind) {
        case ShareKind::File:
            if (visit.action.empty() && reading) return serveVisitFile(socket, request, visit);
            if (visit.action == "get" && reading) return serveVisitDownload(socket, request, visit);
            break;
        case ShareKind::Folder:
            if (visit.action.empty() && reading) return serveVisitFolder(socket, request, visit);
            if (visit.action == "get" && reading) return serveVisitDownload(socket, request, visit);
            if (visit.action == "zip" && request.method == HttpMethod::Get) return serveVisitZip(socket, request, visit);
            break;
        case ShareKind::DropBox:
            if (visit.action.empty() && reading) {
                logVisit(visit, request, "open", {});
                return sendAnswer(socket, request, 200, kHtml, shareDropBoxPage(visit.base, visit.title));
            }
            if (visit.action == "upload" && reading) return serveVisitUploadStatus(socket, request, visit);
            if (visit.action == "upload" && request.method == HttpMethod::Put)
                return serveVisitUpload(socket, request, visit);
            if (visit.action == "send" && request.method == HttpMethod::Post)
                return serveVisitFormUpload(socket, request, visit);
            break;
    }
    sendAnswer(socket, request, 404, kHtml, shareMessagePage(visit.base, "Not found", "There is no such page."));
}

bool WebApp::visitorUnlocked(const HttpRequest& request, const Visit& visit) {
    const std::string cookie = cookieValue(request.cookie, kVisitCookieName);
    if (!cookie.empty() && shares_.visits) {
        const std::optional<WebSession> session = shares_.visits->use(cookie, clock_());
        if (session && session->user == visit.link.id) return true;
    }
    if (!request.sentCredentials) return false;
    // Scripts give the password with HTTP Basic (any user name), delayed, logged
    // and counted like every web login when it is wrong.
    const bool ok = request.password.size() <= kMaxWebPasswordBytes &&
                    users_.matchesStoredSecret(visit.link.password, request.password);
    if (logins_) {
        if (ok)
            logins_->succeeded(LoginService::Web, request.peerAddress, visitorOf(visit.link));
        else
            logins_->failed(LoginService::Web, request.peerAddress, visitorOf(visit.link));
    }
    return ok;
}

void WebApp::serveVisitUnlock(Socket& socket, const HttpRequest& request, const Visit& visit) {
    if ((request.origin.empty() && request.referer.empty()) || !isSameOriginRequest(request))
        return sendAnswer(socket, request, 403, kHtml,
                          sharePasswordPage(visit.base, "Give the password on this site's own page."));
    const std::string password = formField(request.query, "password").value_or("");
    const bool ok =
        password.size() <= kMaxWebPasswordBytes && users_.matchesStoredSecret(visit.link.password, password);
    if (!ok) {
        // Delayed, logged and counted for bans like every other web login.
        if (logins_) logins_->failed(LoginService::Web, request.peerAddress, visitorOf(visit.link));
        return sendAnswer(socket, request, 401, kHtml, sharePasswordPage(visit.base, "Wrong password."));
    }
    if (logins_) logins_->succeeded(LoginService::Web, request.peerAddress, visitorOf(visit.link));
    const std::optional<std::string> cookie =
        shares_.visits ? shares_.visits->open(visit.link.id, clock_()) : std::nullopt;
    if (!cookie)
        return sendAnswer(socket, request, 503, kHtml,
                          sharePasswordPage(visit.base, "The server cannot open the link now."));
    std::string setCookie = "Set-Cookie: " + std::string(kVisitCookieName) + "=" + *cookie + "; Path=" + visit.base +
                            "; HttpOnly; SameSite=Strict";
    if (secureCookie_) setCookie += "; Secure";
    setCookie += "\r\n";
    redirect(socket, request, visit.base, setCookie);
}

bool WebApp::countVisitUse(Socket& socket, const HttpRequest& request, const Visit& visit) {
    switch (shares_.store->countUse(visit.link.id)) {
        case ShareUse::Counted:
            return true;
        case ShareUse::UsedUp:
        case ShareUse::Gone:
            logVisit(visit, request, "refused (used up or revoked)", {});
            sendAnswer(socket, request, 404, kHtml, shareEndedPage());
            return false;
        case ShareUse::Failed:
            break;
    }
    sendAnswer(socket, request, 503, kHtml,
               shareMessagePage(visit.base, "Not now", "The link's use could not be counted; try again later."));
    return false;
}

void WebApp::serveVisitFile(Socket& socket, const HttpRequest& request, const Visit& visit) {
    const AppPath path("");
    const auto seen = visit.files.stat(path.argument(), StatPurpose::Reading);
    if (!seen.ok() || seen.value.kind != EntryKind::RegularFile) {
        logVisit(visit, request, "refused (no file there)", {});
        return sendAnswer(socket, request, 404, kHtml, shareEndedPage());
    }
    logVisit(visit, request, "open", {});
    sendAnswer(socket, request, 200, kHtml, shareFilePage(visit.base, visit.title, seen.value.size));
}

void WebApp::serveVisitFolder(Socket& socket, const HttpRequest& request, const Visit& visit) {
    const AppPath path(formField(request.query, "path").value_or(""));
    const auto listing = visit.files.list(path.argument());
    if (!listing.ok() || listing.value.kind() != EntryKind::Directory) {
        const Refusal refusal = refusalOf(listing.ok() ? FileStatus::NotFound : listing.status, "list this");
        return sendAnswer(socket, request, refusal.status, kHtml,
                          shareMessagePage(visit.base, "Not found", refusal.text));
    }
    ShareFolderView view;
    view.base = visit.base;
    view.title = visit.title;
    view.folder = listing.normalised;
    view.download = visit.files.permits(PERM_READ_FILE);
    (void)listing.value.forEachEntry([&](const DirectoryEntry& entry) {
        if (entry.name == "." || entry.name == ".." || isPartialUploadName(entry.name)) return true;
        if (entry.info.kind != EntryKind::Directory && entry.info.kind != EntryKind::RegularFile) return true;
        view.entries.push_back(AppEntry{entry.name, entry.info.kind == EntryKind::Directory, entry.info.size,
                                        static_cast<std::int64_t>(entry.info.lastWrite)});
        return view.entries.size() < kMaxViewEntries;
    });
    sortEntries(view.entries, AppSort{});
    logVisit(visit, request, "list", view.folder);
    sendAnswer(socket, request, 200, kHtml, shareFolderPage(view));
}

void WebApp::serveVisitDownload(Socket& socket, const HttpRequest& request, const Visit& visit) {
    const std::string inside =
        visit.link.kind == ShareKind::Folder ? formField(request.query, "path").value_or("") : std::string();
    const AppPath path(inside);
    auto opened = visit.files.openForReading(path.argument(), kTransferOpenAttempts);
    const bool isFile = opened.ok() && opened.value.kind() == EntryKind::RegularFile && opened.value.isOpen() &&
                        !isPartialUploadName(splitLast(opened.normalised).second);
    if (!isFile) {
        const Refusal refusal = refusalOf(opened.ok() ? FileStatus::NotFound : opened.status, "download files");
        return sendAnswer(socket, request, refusal.status, kHtml,
                          shareMessagePage(visit.base, "Not found", refusal.text));
    }
    ReadSource& source = opened.value;
    if (request.method == HttpMethod::Get) {
        if (!countVisitUse(socket, request, visit)) return;
        logVisit(visit, request, "download", visit.link.kind == ShareKind::Folder ? opened.normalised : visit.title);
    }
    const std::string name = visit.link.kind == ShareKind::Folder ? splitLast(opened.normalised).second : visit.title;
    const std::string header =
        appHeader(200, "application/octet-stream", static_cast<std::uint64_t>(source.size()), dispositionOf(name));
    if (sendAll(socket, header) < 0 || request.method == HttpMethod::Head) return;
    const CrowdedSend sending(activeSends_, socket);
    source.transfer().sendOpenedLength(socket);
}

void WebApp::serveVisitZip(Socket& socket, const HttpRequest& request, const Visit& visit) {
    const std::string folder = formField(request.query, "path").value_or("");
    const std::vector<std::string> picks = formFields(request.query, "pick", kMaxZipPicks);
    streamZip(
        socket, request, visit.files, folder, picks, visit.title,
        [&] {
            if (!countVisitUse(socket, request, visit)) return false;
            logVisit(visit, request, "zip", folder.empty() ? std::string_view("/") : std::string_view(folder));
            return true;
        },
        [&](FileStatus status) {
            const Refusal refusal = refusalOf(status, "download folders");
            sendAnswer(socket, request, refusal.status, kHtml, shareMessagePage(visit.base, "Not done", refusal.text));
        });
}

void WebApp::serveVisitUploadStatus(Socket& socket, const HttpRequest& request, const Visit& visit) {
    const std::string id = formField(request.query, "upload").value_or("");
    if (!isUploadId(id)) return sendJsonError(socket, request, 400, "The upload's id is missing or wrong.");
    const std::string partName = dropPartName(id);
    const AppPath part(partName);
    const auto seen = visit.files.stat(part.argument(), StatPurpose::Writing);
    if (!seen.ok()) {
        const Refusal refusal = refusalOf(seen.status, "send files here");
        return sendJsonError(socket, request, refusal.status, refusal.text);
    }
    const std::int64_t received = seen.value.kind == EntryKind::RegularFile ? seen.value.size : 0;
    sendAnswer(socket, request, 200, kJson, "{\"received\":" + std::to_string(received) + "}");
}

std::optional<std::string> WebApp::settleDropped(const Visit& visit, const std::string& partial,
                                                 const std::string& name) {
    const AppPath from(partial);
    for (int n = 1; n <= kMaxDropNames; ++n) {
        const std::string candidate = candidateName(name, n);
        if (!isSingleName(candidate) || isPartialUploadName(candidate)) return std::nullopt;
        const AppPath to(candidate);
        // SECURITY: a visitor never replaces anything: rename refuses a name that is
        // taken, even one taken at the same moment, and the next name is tried.
        const auto moved = visit.files.rename(from.argument(), to.argument());
        if (moved.ok()) return candidate;
        if (moved.status != FileStatus::Exists) return std::nullopt;
    }
    return std::nullopt;
}

void WebApp::serveVisitUpload(Socket& socket, const HttpRequest& request, const Visit& visit) {
    const std::string id = formField(request.query, "upload").value_or("");
    const std::string name = baseNameOf(formField(request.query, "name").value_or(""));
    if (!isUploadId(id)) return sendJsonError(socket, request, 400, "The upload's id is missing or wrong.");
    if (!isSingleName(name) || isPartialUploadName(name))
        return sendJsonError(socket, request, 400, "That name cannot be used.");
    const std::optional<ChunkPlace> place = chunkPlaceOf(socket, request);
    if (!place) return;
    const std::string partName = dropPartName(id);
    const AppPath partial(partName);
    const std::optional<std::int64_t> received =
        receiveUploadChunk(socket, request, visit.files, partial.argument(), place->offset, "send files here");
    if (!received) return;
    const std::int64_t stored = *received;
    std::string settled;
    if (place->done) {
        if (stored != place->total)
            return sendJsonError(socket, request, 409, "The stored part does not hold the whole file.", stored);
        // Each file a drop box takes is one use of its link.
        if (shares_.store->countUse(visit.link.id) != ShareUse::Counted) {
            logVisit(visit, request, "refused (used up or revoked)", name);
            return sendJsonError(socket, request, 404, "This link does not work any more.");
        }
        const std::optional<std::string> finalName = settleDropped(visit, partName, name);
        if (!finalName) return sendJsonError(socket, request, 409, "The file could not be stored under its name.");
        settled = *finalName;
        logVisit(visit, request, "upload", settled);
    }
    std::string body = "{\"received\":" + std::to_string(stored) + ",\"done\":" + (place->done ? "true" : "false");
    if (place->done) body += ",\"name\":\"" + jsonEscape(settled) + "\"";
    sendAnswer(socket, request, 200, kJson, body + "}");
}

void WebApp::serveVisitFormUpload(Socket& socket, const HttpRequest& request, const Visit& visit) {
    if (request.sentTransferEncoding || request.contentLength <= 0)
        return sendAnswer(socket, request, 411, kHtml,
                          shareDropBoxResultPage(visit.base, "The upload did not say its length.", true));
    const std::optional<std::string> boundary = multipartBoundary(request.contentType);
    if (!boundary)
        return sendAnswer(socket, request, 400, kHtml,
                          shareDropBoxResultPage(visit.base, "The upload is no form of files.", true));
    std::optional<TransferFile> current;  // the file part being written, beside its name
    std::string currentName;
    std::string currentPart;
    bool diskFailed = false;
    std::vector<std::string> refused;
    std::vector<std::string> received;

    MultipartHandler handler;
    handler.partStart = [&](const PartHeader& part) {
        if (!part.fileName || part.fileName->empty()) return true;  // another field, or no file chosen
        currentName = baseNameOf(*part.fileName);
        if (!isSingleName(currentName) || isPartialUploadName(currentName)) {
            refused.push_back(currentName + ": that name cannot be used.");
            return true;
        }
        const std::optional<std::string> secret = newWebSecret();
        if (!secret) {
            refused.push_back(currentName + ": the server could not take it now.");
            return true;
        }
        currentPart = dropPartName(secret->substr(0, kUploadIdChars));
        const AppPath partial(currentPart);
        auto opened = visit.files.openForWritingAt(partial.argument(), 0);
        if (!opened.ok()) {
            refused.push_back(currentName + ": " + refusalOf(opened.status, "send files here").text);
            return true;
        }
        current = std::move(opened.value);
        diskFailed = false;
        return true;
    };
    handler.partBytes = [&](std::string_view bytes) {
        if (current && !diskFailed && !current->write(bytes)) diskFailed = true;
        return true;
    };
    handler.partEnd = [&] {
        if (!current) return true;
        current.reset();  // the lock goes before the rename
        if (diskFailed) {
            refused.push_back(currentName + ": " + refusalOf(FileStatus::Refused, "").text);
            return true;
        }
        if (shares_.store->countUse(visit.link.id) != ShareUse::Counted) {
            refused.push_back(currentName + ": this link does not take more files.");
            return true;
        }
        if (const std::optional<std::string> finalName = settleDropped(visit, currentPart, currentName)) {
            logVisit(visit, request, "upload", *finalName);
            received.push_back(*finalName);
        } else {
            refused.push_back(currentName + ": it could not be stored under its name.");
        }
        return true;
    };
    MultipartStream body(*boundary, std::move(handler));
    allowBody(socket, request);
    const bool whole = readBody(socket, request.bodyStart, request.contentLength, [&](std::string_view bytes) {
        return body.feed(bytes) == MultipartStream::State::Reading;
    });
    if (!whole || body.state() != MultipartStream::State::Finished)
        refused.emplace_back("The upload broke off or was malformed; what arrived whole is kept.");
    std::string text;
    for (const std::string& name : received) text += name + ": received. ";
    for (const std::string& why : refused) text += why + " ";
    if (text.empty()) text = "No file was chosen.";
    const bool failed = !refused.empty() || received.empty();
    sendAnswer(socket, request, failed ? 409 : 200, kHtml, shareDropBoxResultPage(visit.base, text, failed));
}

void WebApp::serveShareList(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const std::optional<std::vector<ShareLink>> links = shares_.store->linksOf(caller.user);
    if (!links)
        return sendAnswer(socket, request, 503, kHtml,
                          messagePage("Not now", "The links cannot be read just now; try again later.", ""));
    const FileService files = filesOf(caller.user);
    const std::int64_t now = wallNow();
    std::vector<ShareListItem> items;
    for (const ShareLink& link : *links) {
        std::string state = "active";
        if (link.expiredAt(now))
            state = "expired";
        else if (link.usedUp())
            state = "used up";
        else if (!files.permits(ownerRightOf(link.kind)))
            state = "not working: your account lacks the right";
        items.push_back({link, state});
    }
    sendAnswer(socket, request, 200, kHtml, sharesPage(caller.user, caller.csrfToken, items));
}

void WebApp::serveShareMake(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const std::string path = formField(request.query, "path").value_or("");
    const bool dropBox = formField(request.query, "kind").value_or("") == "dropbox";
    const std::string expiresText = formField(request.query, "expires").value_or("");
    const std::string maxText = formField(request.query, "max").value_or("");
    const std::string password = formField(request.query, "password").value_or("");
    const std::string back = splitLast(path).first;
    auto refuse = [&](int status, std::string_view text) {
        sendRefusalPage(socket, request, {status, std::string(text)}, back);
    };
    const FileService files = filesOf(caller.user);
    const AppPath target(path);
    ShareLink link;
    if (dropBox) {
        // Visitors' files are new files: Write and Create, checked again at every use.
        const auto seen = files.stat(target.argument(), StatPurpose::Writing);
        if (!seen.ok()) return sendRefusalPage(socket, request, refusalOf(seen.status, "take files from others"), back);
        if (!files.permits(PERM_CREATE_FILE))
            return sendRefusalPage(socket, request, refusalOf(FileStatus::NoRight, "make files"), back);
        if (seen.value.kind != EntryKind::Directory) return refuse(409, "A drop box is made of a folder.");
        link.kind = ShareKind::DropBox;
        link.path = seen.normalised;
    } else {
        const auto seen =
            files.stat(target.argument(), files.permits(PERM_READ_FILE) ? StatPurpose::Reading : StatPurpose::Listing);
        if (!seen.ok()) return sendRefusalPage(socket, request, refusalOf(seen.status, "share this"), back);
        if (seen.value.kind == EntryKind::Directory) {
            if (!files.permits(PERM_LIST))
                return sendRefusalPage(socket, request, refusalOf(FileStatus::NoRight, "share folders"), back);
            link.kind = ShareKind::Folder;
        } else if (seen.value.kind == EntryKind::RegularFile) {
            if (!files.permits(PERM_READ_FILE))
                return sendRefusalPage(socket, request, refusalOf(FileStatus::NoRight, "share files"), back);
            link.kind = ShareKind::File;
        } else {
            return sendRefusalPage(socket, request, refusalOf(FileStatus::NotFound, ""), back);
        }
        link.path = seen.normalised;
    }
    const std::int64_t now = wallNow();
    if (!expiresText.empty()) {
        const std::optional<std::int64_t> expires = shareExpiryOfDate(expiresText);
        if (!expires) return refuse(400, "The expiry is no date (YYYY-MM-DD).");
        if (*expires <= now) return refuse(400, "That day is past.");
        link.expires = *expires;
    }
    if (!maxText.empty()) {
        const std::optional<std::int64_t> max = byteCountValue(maxText);
        if (!max || *max < 1 || *max > kMaxShareUses)
            return refuse(400, "The number of downloads must be a whole number from 1 to 1000000.");
        link.maxUses = *max;
    }
    if (password.size() > kMaxWebPasswordBytes) return refuse(400, "The password is longer than 63 bytes.");
    if (!password.empty()) {
        const std::optional<std::string> stored = users_.storedFormOfSecret(password);
        if (!stored) return refuse(503, "The server cannot store a password now.");
        link.password = *stored;
    }
    const std::optional<ShareSecret> secret = newShareSecret();
    if (!secret) return refuse(503, "The server cannot make a link now (no random bytes).");
    link.id = secret->id;
    link.tokenDigest = secret->digest;
    link.owner = caller.user;
    link.created = now;
    if (!shares_.store->add(link)) return refuse(503, "The link could not be saved; nothing was made.");
    Visit made;
    made.link = link;
    logVisit(made, request, "made", link.path.empty() ? std::string_view("/") : std::string_view(link.path));
    sendAnswer(socket, request, 200, kHtml, shareMadePage(linkUrl(request, secureCookie_, secret->token), link));
}

void WebApp::serveShareRevoke(Socket& socket, const HttpRequest& request, const Caller& caller) {
    const std::string id = formField(request.query, "id").value_or("");
    if (!shares_.store->revoke(caller.user, id))
        return sendAnswer(socket, request, 404, kHtml,
                          messagePage("Not done", "No link of yours has that id, or the list could not be saved.", ""));
    Visit revoked;
    revoked.link.id = id;
    revoked.link.owner = caller.user;
    logVisit(revoked, request, "revoked", {});
    redirect(socket, request, "/app/shares");
}

}  // namespace corvel
