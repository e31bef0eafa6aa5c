#include "ctl/ShareCommands.h"

#include <ctime>
#include <functional>

#include "accounts/StoredPassword.h"
#include "common/DecimalText.h"
#include "common/Permissions.h"
#include "common/XmlFiles.h"
#include "config/SharesFile.h"
#include "config/UsersFile.h"
#include "ctl/JsonWriter.h"
#include "ctl/TextTable.h"
#include "files/FileService.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

// Most uses a link may be given (as on the web page).
constexpr std::int64_t kMaxShareUses = 1000000;
// Longest link password (as on the web page).
constexpr std::size_t kMaxSharePasswordBytes = 63;

std::string lockedText() {
    return std::string("could not take the lock of ") + kSharesFileName + " within " +
           std::to_string(kSharesFileLockWaitMs / 1000) + " seconds: another program holds it, or " +
           namedObjectDirectory() + " cannot be used; try again later";
}

std::int64_t wallNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

// Reads the file under the lock the caller holds: a missing file is an empty list;
// an unreadable one is refused and never rewritten.
std::optional<SharesFile> readShares(const CommandContext& context, int* exitCode) {
    const std::string path = context.path(kSharesFileName);
    SharesFile file = SharesFile::readOrEmpty(path);
    if (file.status() == FileRead::Unreadable) {
        *exitCode = context.refuse(unreadableFileText(path, file.error(), file.errorLine()));
        return std::nullopt;
    }
    return file;
}

// The accounts of ftpusers.xml, read under its lock; nullopt (refused) when it
// cannot be had or read.
std::optional<std::vector<UserAccount>> readAccounts(const CommandContext& context, int* exitCode) {
    UsersFileLock lock(kUsersFileLockWaitMs);
    if (!lock.held()) {
        *exitCode = context.refuse(std::string("could not take the lock of ") + kUsersFileName);
        return std::nullopt;
    }
    const std::string path = context.path(kUsersFileName);
    UsersFile file = UsersFile::read(path);
    if (file.status() == FileRead::Missing) return std::vector<UserAccount>{};
    if (file.status() == FileRead::Unreadable) {
        *exitCode = context.refuse(unreadableFileText(path, file.error(), file.errorLine()));
        return std::nullopt;
    }
    return file.accounts();
}

const UserAccount* findAccount(const std::vector<UserAccount>& accounts, const std::string& name) {
    for (const UserAccount& account : accounts)
        if (account.username == name) return &account;
    return nullptr;
}

// The link's state now, as the server would find it at a use.
std::string stateOf(const ShareLink& link, const std::vector<UserAccount>& accounts, std::int64_t now) {
    if (link.expiredAt(now)) return "expired";
    if (link.usedUp()) return "used up";
    const UserAccount* owner = findAccount(accounts, link.owner);
    if (!owner) return "not working: owner removed";
    if (owner->disabled) return "not working: owner disabled";
    if ((static_cast<std::uint32_t>(owner->privilege) & ownerRightOf(link.kind)) == 0)
        return "not working: owner lacks the right";
    return "active";
}

std::string usesText(const ShareLink& link) {
    return std::to_string(link.uses) + "/" + (link.maxUses == 0 ? std::string("-") : std::to_string(link.maxUses));
}

// What the owner's file service says of path: the link's kind and the path as it
// is stored, or the refusal.
std::optional<ShareLink> linkTarget(const CommandContext& context, const UserAccount& owner, const std::string& path,
                                    bool dropBox, int* exitCode) {
    const FileService files(owner.workDir, static_cast<std::uint32_t>(owner.privilege));
    const std::string text = path.empty() || path.front() != '/' ? "/" + path : path;
    const PathArgument argument{text, '/', kMaxPathTextBytes};
    const std::string who = "'" + displayText(owner.username) + "'";
    auto refuse = [&](const std::string& why) {
        *exitCode = context.refuse(why);
        return std::nullopt;
    };
    const StatPurpose purpose = dropBox ? StatPurpose::Writing
                                : files.permits(PERM_READ_FILE) ? StatPurpose::Reading
                                                                : StatPurpose::Listing;
    const auto seen = files.stat(argument, purpose);
    switch (seen.status) {
        case FileStatus::Ok: break;
        case FileStatus::NoRight:
            return refuse(who + " may not " + (dropBox ? "write files (a drop box needs write and create)"
                                                       : "read or list files"));
        case FileStatus::Escaped: return refuse("the path climbs above " + who + "'s home: '" + displayText(path) + "'");
        default: return refuse("the path cannot be used: '" + displayText(path) + "'");
    }
    ShareLink link;
    link.path = seen.normalised;
    const std::string where = "/" + displayText(link.path) + " in " + who + "'s home";
    if (seen.value.kind == EntryKind::None) return refuse("nothing is at " + where);
    if (dropBox) {
        if (seen.value.kind != EntryKind::Directory) return refuse("a drop box is made of a folder; " + where + " is none");
        if (!files.permits(PERM_CREATE_FILE)) return refuse(who + " may not create files (a drop box needs it)");
        link.kind = ShareKind::DropBox;
    } else if (seen.value.kind == EntryKind::Directory) {
        if (!files.permits(PERM_LIST)) return refuse(who + " may not list folders (a folder link needs it)");
        link.kind = ShareKind::Folder;
    } else if (seen.value.kind == EntryKind::RegularFile) {
        if (!files.permits(PERM_READ_FILE)) return refuse(who + " may not read files (a file link needs it)");
        link.kind = ShareKind::File;
    } else {
        return refuse(where + " is neither a file nor a folder");
    }
    return link;
}

}  // namespace

int listShares(const CommandContext& context) {
    int exitCode = kExitRefused;
    std::optional<std::vector<ShareLink>> links;
    {
        SharesFileLock lock;
        if (!lock.held()) return context.refuse(lockedText());
        std::optional<SharesFile> file = readShares(context, &exitCode);
        if (!file) return exitCode;
        links = file->links();
    }
    const std::optional<std::vector<UserAccount>> accounts = readAccounts(context, &exitCode);
    if (!accounts) return exitCode;
    const std::string* user = context.invocation.value("--user");
    const std::int64_t now = wallNow();
    std::vector<ShareLink> shown;
    for (ShareLink& link : *links)
        if (!user || link.owner == *user) shown.push_back(std::move(link));
    if (context.invocation.json) {
        JsonWriter json;
        json.beginArray();
        for (const ShareLink& link : shown) {
            json.beginObject().key("id").string(link.id).key("owner").string(link.owner);
            json.key("kind").string(shareKindName(link.kind)).key("path").string(link.path);
            json.key("created").number(link.created).key("expires");
            if (link.expires == 0)
                json.null();
            else
                json.number(link.expires);
            json.key("password").boolean(!link.password.empty()).key("uses").number(link.uses).key("maxUses");
            if (link.maxUses == 0)
                json.null();
            else
                json.number(link.maxUses);
            json.key("state").string(stateOf(link, *accounts, now)).endObject();
        }
        json.endArray();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    std::vector<std::vector<std::string>> rows = {{"ID", "OWNER", "KIND", "PATH", "EXPIRES", "PASSWORD", "USES", "STATE"}};
    for (const ShareLink& link : shown)
        rows.push_back({displayText(link.id), displayText(link.owner), std::string(shareKindName(link.kind)),
                        "/" + displayText(link.path), link.expires == 0 ? "never" : shareTimeText(link.expires),
                        link.password.empty() ? "no" : "yes", usesText(link), stateOf(link, *accounts, now)});
    context.io.out << formatTable(rows);
    return kExitDone;
}

int addShare(const CommandContext& context) {
    const std::string& ownerName = context.operand(0);
    const std::string& path = context.operand(1);
    const bool dropBox = context.invocation.has("--dropbox");
    int exitCode = kExitRefused;
    ShareLink options;
    const std::int64_t now = wallNow();
    if (const std::string* date = context.invocation.value("--expires")) {
        const std::optional<std::int64_t> expires = shareExpiryOfDate(*date);
        if (!expires) return context.usageError("--expires: '" + displayText(*date) + "' is no date (YYYY-MM-DD)");
        if (*expires <= now) return context.refuse("--expires: " + *date + " is past");
        options.expires = *expires;
    }
    if (const std::string* count = context.invocation.value("--max-downloads")) {
        bool found = false;
        const std::int64_t value = scanDecimal(*count, &found);
        if (!found || std::to_string(value) != *count || value < 1 || value > kMaxShareUses)
            return context.usageError("--max-downloads: '" + displayText(*count) +
                                      "' is no whole number from 1 to " + std::to_string(kMaxShareUses));
        options.maxUses = value;
    }

    const std::optional<std::vector<UserAccount>> accounts = readAccounts(context, &exitCode);
    if (!accounts) return exitCode;
    const UserAccount* owner = findAccount(*accounts, ownerName);
    if (!owner) return context.refuse("no user '" + displayText(ownerName) + "' in " + kUsersFileName);
    if (owner->disabled)
        return context.refuse("the account '" + displayText(ownerName) + "' is disabled; its links would not work");
    std::optional<ShareLink> link = linkTarget(context, *owner, path, dropBox, &exitCode);
    if (!link) return exitCode;

    if (context.invocation.has("--password") || context.invocation.has("--password-stdin")) {
        std::optional<std::string> password = context.newPassword(&exitCode);
        if (!password) return exitCode;
        if (password->size() > kMaxSharePasswordBytes)
            return context.refuse("the password is longer than " + std::to_string(kMaxSharePasswordBytes) + " bytes");
        const std::optional<std::string> stored =
            storedPasswordFor(*password, configuredPasswordScheme(context.programDirectory));
        if (!stored) return context.refuse("could not store the password: the system gave no random salt");
        link->password = *stored;
    }
    const std::optional<ShareSecret> secret = newShareSecret();
    if (!secret) return context.refuse("could not make a link: the system gave no random bytes");
    link->id = secret->id;
    link->tokenDigest = secret->digest;
    link->owner = owner->username;
    link->created = now;
    link->expires = options.expires;
    link->maxUses = options.maxUses;
    {
        SharesFileLock lock;
        if (!lock.held()) return context.refuse(lockedText());
        std::optional<SharesFile> file = readShares(context, &exitCode);
        if (!file) return exitCode;
        SharesFile next = file->copy();
        next.add(*link);
        const std::string target = context.path(kSharesFileName);
        if (!next.save(target)) return context.refuse(target + " could not be written; no link was made");
    }
    std::string url = shareLinkPath(secret->token);
    if (const std::string* base = context.invocation.value("--url")) {
        std::string prefix = *base;
        while (!prefix.empty() && prefix.back() == '/') prefix.pop_back();
        url = prefix + url;
    }
    if (context.invocation.json) {
        JsonWriter json;
        json.beginObject().key("id").string(link->id).key("kind").string(shareKindName(link->kind));
        json.key("path").string(link->path).key("link").string(url).endObject();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    context.io.out << "Made share link " << link->id << " (" << shareKindName(link->kind) << " /"
                   << displayText(link->path) << " of " << displayText(link->owner)
                   << "). The link is shown only now:\n"
                   << url << "\n";
    return kExitDone;
}

int revokeShare(const CommandContext& context) {
    const std::string& id = context.operand(0);
    int exitCode = kExitRefused;
    {
        SharesFileLock lock;
        if (!lock.held()) return context.refuse(lockedText());
        std::optional<SharesFile> file = readShares(context, &exitCode);
        if (!file) return exitCode;
        SharesFile next = file->copy();
        if (!next.remove(id)) return context.refuse("no share link '" + displayText(id) + "' in " + kSharesFileName);
        const std::string target = context.path(kSharesFileName);
        if (!next.save(target)) return context.refuse(target + " could not be written; nothing was changed");
    }
    context.io.out << "Revoked share link " << displayText(id) << ".\n";
    return kExitDone;
}

}  // namespace corvel
