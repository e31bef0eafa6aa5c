#include "ctl/UserCommands.h"

#include <fstream>
#include <functional>
#include <set>

#include "accounts/StoredPassword.h"
#include "config/UsersFile.h"
#include "common/Permissions.h"
#include "common/XmlFiles.h"
#include "ctl/JsonWriter.h"
#include "ctl/Rights.h"
#include "ctl/TextTable.h"
#include "platform/FileSystem.h"
#include "platform/NamedObjects.h"
#include "tls/SshKeys.h"

namespace corvel {
namespace {

// A change to the accounts of a copy of the file: the reason it is refused, or nullopt.
using UsersChange = std::function<std::optional<std::string>(UsersFile& file)>;

std::string lockedText() {
    return std::string("could not take the lock of ") + kUsersFileName + " within " +
           std::to_string(kUsersFileLockWaitMs / 1000) + " seconds: another program holds it, or " +
           namedObjectDirectory() + " cannot be used; try again later";
}

// The stored form of password, as ftpconfig.xml's <passwordhash> says (the server
// stores the passwords it changes the same way).
std::optional<std::string> storedPasswordOf(const CommandContext& context, const std::string& password) {
    return storedPasswordFor(password, configuredPasswordScheme(context.programDirectory));
}

std::string noRandomSaltText() { return "could not store the password: the system gave no random salt"; }

// Reads the file; the caller holds the lock. A missing file is an empty list (the
// first change creates it, 0600); an unreadable one is refused and never rewritten.
std::optional<UsersFile> readUsers(const CommandContext& context, int* exitCode) {
    const std::string path = context.path(kUsersFileName);
    UsersFile file = UsersFile::read(path);
    if (file.status() == FileRead::Missing) return UsersFile::empty();
    if (file.status() == FileRead::Unreadable) {
        *exitCode = context.refuse(unreadableFileText(path, file.error(), file.errorLine()));
        return std::nullopt;
    }
    return file;
}

// The accounts as they are now, read under the lock that is let go again at once.
std::optional<std::vector<UserAccount>> currentAccounts(const CommandContext& context, int* exitCode) {
    UsersFileLock lock(kUsersFileLockWaitMs);
    if (!lock.held()) {
        *exitCode = context.refuse(lockedText());
        return std::nullopt;
    }
    std::optional<UsersFile> file = readUsers(context, exitCode);
    if (!file) return std::nullopt;
    return file->accounts();
}

// Reads, changes a copy and saves it under the lock; then says done and, with the
// lock let go, asks a running server to reload.
int editUsers(const CommandContext& context, const UsersChange& change, const std::string& done) {
    const std::string path = context.path(kUsersFileName);
    {
        UsersFileLock lock(kUsersFileLockWaitMs);
        if (!lock.held()) return context.refuse(lockedText());
        int exitCode = kExitRefused;
        std::optional<UsersFile> file = readUsers(context, &exitCode);
        if (!file) return exitCode;
        UsersFile next = file->copy();
        if (std::optional<std::string> refused = change(next)) return context.refuse(*refused);
        if (!next.save(path)) return context.refuse(path + " could not be written; nothing was changed");
    }
    context.io.out << done << "\n";
    return context.requestReloadAfterSave(ReloadUsers, kUsersFileName);
}

int findAccount(const std::vector<UserAccount>& accounts, const std::string& name) {
    for (std::size_t i = 0; i < accounts.size(); ++i)
        if (accounts[i].username == name) return static_cast<int>(i);
    return -1;
}

std::string noSuchUser(const std::string& name) {
    return "no user '" + displayText(name) + "' in " + kUsersFileName;
}

// The console's home check, and an absolute path, since the server resolves a
// relative home against no directory it could name.
std::optional<std::string> whyHomeRefused(const std::string& home) {
    if (home.empty()) return std::string("Home Directory can not be empty");
    if (home.front() != '/')
        return "the home directory must be an absolute path (the server never serves a relative home): '" +
               displayText(home) + "'";
    return std::nullopt;
}

void warnAboutMissingHome(const CommandContext& context, const std::string& home) {
    const EntryKind kind = queryEntry(home).kind;
    if (kind == EntryKind::Directory) return;
    context.warn("the home directory " + displayText(home) +
                 (kind == EntryKind::None ? " does not exist yet; create it before the account logs in"
                                          : " is not a directory"));
}

// --rights as bits; nullopt (a usage error written) when a word is unknown.
std::optional<std::uint32_t> rightsOption(const CommandContext& context, std::uint32_t fallback, int* exitCode) {
    const std::string* list = context.invocation.value("--rights");
    if (!list) return fallback;
    ParsedRights rights = parseRights(*list);
    if (!rights.bits) *exitCode = context.usageError("--rights: " + rights.error);
    return rights.bits;
}

// The account's keys as list shows them: a line no tool would have written (edited
// by hand) is shown with why it signs nobody in.
struct ShownKey {
    std::optional<SshPublicKey> key;
    std::string line;
    std::string why;
};

std::vector<ShownKey> shownKeysOf(const UserAccount& account) {
    std::vector<ShownKey> shown;
    for (const std::string& line : account.sshKeys) {
        ShownKey entry;
        entry.line = line;
        entry.key = parseAuthorizedKey(line, &entry.why);
        shown.push_back(std::move(entry));
    }
    return shown;
}

// The keys to add: the KEY operand, or every line of --file but blank ones and
// comments (as in authorized_keys or a .pub file). nullopt when refused.
std::optional<std::vector<SshPublicKey>> keysToAdd(const CommandContext& context, int* exitCode) {
    const Invocation& given = context.invocation;
    const std::string* file = given.value("--file");
    const bool operand = given.operands.size() > 1;
    if (operand == (file != nullptr)) {
        *exitCode = context.usageError(operand ? "give the key or --file FILE, not both"
                                               : "'corvelctl user key add' needs KEY or --file FILE");
        return std::nullopt;
    }
    std::vector<std::pair<std::string, std::string>> lines;  // where, text
    if (operand) {
        lines.emplace_back("the key", context.operand(1));
    } else {
        std::ifstream in(*file, std::ios::binary);
        if (!in) {
            *exitCode = context.refuse("cannot read " + displayText(*file));
            return std::nullopt;
        }
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            if (number > 10000) break;  // no account has that many keys; a stray big file stops here
            const std::size_t start = line.find_first_not_of(" \t\r");
            if (start == std::string::npos || line[start] == '#') continue;
            lines.emplace_back("line " + std::to_string(number) + " of " + displayText(*file), line);
        }
        if (lines.empty()) {
            *exitCode = context.refuse(displayText(*file) + " holds no key");
            return std::nullopt;
        }
    }
    std::vector<SshPublicKey> keys;
    for (const auto& [where, text] : lines) {
        std::string why;
        std::optional<SshPublicKey> key = parseAuthorizedKey(text, &why);
        if (!key) {
            *exitCode = context.refuse(where + " is no SSH public key: " + why);
            return std::nullopt;
        }
        keys.push_back(std::move(*key));
    }
    return keys;
}

// "SHA256:..." as given, with the prefix added when it was left out.
std::string fingerprintOperand(const std::string& text) {
    return text.starts_with("SHA256:") ? text : "SHA256:" + text;
}

}  // namespace

int listUsers(const CommandContext& context) {
    int exitCode = kExitRefused;
    std::optional<std::vector<UserAccount>> accounts = currentAccounts(context, &exitCode);
    if (!accounts) return exitCode;
    if (context.invocation.json) {
        JsonWriter json;
        json.beginArray();
        for (const UserAccount& account : *accounts) {
            const auto bits = static_cast<std::uint32_t>(account.privilege);
            json.beginObject().key("name").string(account.username);
            json.key("description").string(account.alias).key("home").string(account.workDir);
            json.key("welcome").string(account.welcomeMessage).key("rights").beginArray();
            for (const std::string& word : rightsWords(bits)) json.string(word);
            json.endArray().key("privilege").number(bits).key("disabled").boolean(account.disabled);
            // Only for an account that has keys: the objects of the others stay as they were.
            if (!account.sshKeys.empty())
                json.key("sshKeys").number(static_cast<std::int64_t>(account.sshKeys.size()));
            json.endObject();
        }
        json.endArray();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    std::vector<std::vector<std::string>> rows = {{"NAME", "HOME", "RIGHTS", "DISABLED"}};
    for (const UserAccount& account : *accounts)
        rows.push_back({displayText(account.username), displayText(account.workDir),
                        rightsText(static_cast<std::uint32_t>(account.privilege)), account.disabled ? "yes" : "no"});
    context.io.out << formatTable(rows);
    return kExitDone;
}

int addUser(const CommandContext& context) {
    int exitCode = kExitRefused;
    const std::optional<std::uint32_t> rights = rightsOption(context, kDefaultPrivileges, &exitCode);
    if (!rights) return exitCode;
    const std::string& name = context.operand(0);
    const std::string& home = *context.invocation.value("--home");
    if (name.empty()) return context.refuse("Username can not be empty");
    if (std::optional<std::string> refused = whyHomeRefused(home)) return context.refuse(*refused);

    // Refused before the password is asked for; checked again under the lock below.
    std::optional<std::vector<UserAccount>> accounts = currentAccounts(context, &exitCode);
    if (!accounts) return exitCode;
    if (findAccount(*accounts, name) >= 0) return context.refuse("User has already exists");
    std::optional<std::string> password = context.newPassword(&exitCode);
    if (!password) return exitCode;

    const std::optional<std::string> stored = storedPasswordOf(context, *password);
    if (!stored) return context.refuse(noRandomSaltText());

    UserAccount account;
    account.username = name;
    account.password = *stored;
    account.alias = context.invocation.has("--description") ? *context.invocation.value("--description") : "";
    account.workDir = home;
    account.welcomeMessage = context.invocation.has("--welcome") ? *context.invocation.value("--welcome") : "";
    account.privilege = static_cast<std::int32_t>(*rights);
    account.disabled = context.invocation.has("--disabled");
    const int status = editUsers(
        context,
        [&account](UsersFile& file) -> std::optional<std::string> {
            std::vector<UserAccount> all = file.accounts();
            if (findAccount(all, account.username) >= 0) return std::string("User has already exists");
            all.push_back(account);
            file.replaceAccounts(all);
            return std::nullopt;
        },
        "Added user " + displayText(name) + ".");
    if (status == kExitDone) warnAboutMissingHome(context, home);
    return status;
}

int changePassword(const CommandContext& context) {
    const std::string& name = context.operand(0);
    int exitCode = kExitRefused;
    std::optional<std::vector<UserAccount>> accounts = currentAccounts(context, &exitCode);
    if (!accounts) return exitCode;
    if (findAccount(*accounts, name) < 0) return context.refuse(noSuchUser(name));
    std::optional<std::string> password = context.newPassword(&exitCode);
    if (!password) return exitCode;
    const std::optional<std::string> stored = storedPasswordOf(context, *password);
    if (!stored) return context.refuse(noRandomSaltText());
    const std::string& digest = *stored;
    return editUsers(
        context,
        [&name, &digest](UsersFile& file) -> std::optional<std::string> {
            if (findAccount(file.accounts(), name) < 0 || !file.setPassword(name, digest)) return noSuchUser(name);
            return std::nullopt;
        },
        "Changed the password of " + displayText(name) + ".");
}

int changeUser(const CommandContext& context) {
    int exitCode = kExitRefused;
    const std::optional<std::uint32_t> rights = rightsOption(context, 0, &exitCode);
    if (!rights) return exitCode;
    const Invocation& given = context.invocation;
    const std::string& name = context.operand(0);
    if (const std::string* home = given.value("--home"))
        if (std::optional<std::string> refused = whyHomeRefused(*home)) return context.refuse(*refused);
    const int status = editUsers(
        context,
        [&](UsersFile& file) -> std::optional<std::string> {
            std::vector<UserAccount> all = file.accounts();
            const int index = findAccount(all, name);
            if (index < 0) return noSuchUser(name);
            // As the console's modify: the name and the password stay.
            UserAccount& account = all[static_cast<std::size_t>(index)];
            if (const std::string* home = given.value("--home")) account.workDir = *home;
            if (given.has("--rights")) account.privilege = static_cast<std::int32_t>(*rights);
            if (const std::string* welcome = given.value("--welcome")) account.welcomeMessage = *welcome;
            if (const std::string* description = given.value("--description")) account.alias = *description;
            if (given.has("--disable")) account.disabled = true;
            if (given.has("--enable")) account.disabled = false;
            file.replaceAccounts(all);
            return std::nullopt;
        },
        "Changed user " + displayText(name) + ".");
    if (status == kExitDone)
        if (const std::string* home = given.value("--home")) warnAboutMissingHome(context, *home);
    return status;
}

int removeUser(const CommandContext& context) {
    const std::string& name = context.operand(0);
    return editUsers(
        context,
        [&name](UsersFile& file) -> std::optional<std::string> {
            std::size_t removed = 0;
            std::vector<UserAccount> kept;
            for (UserAccount& account : file.accounts()) {
                if (account.username == name)
                    ++removed;
                else
                    kept.push_back(std::move(account));
            }
            if (removed == 0) return noSuchUser(name);
            file.replaceAccounts(kept);
            return std::nullopt;
        },
        "Removed user " + displayText(name) + ".");
}

int addUserKeys(const CommandContext& context) {
    const std::string& name = context.operand(0);
    int exitCode = kExitRefused;
    std::optional<std::vector<SshPublicKey>> keys = keysToAdd(context, &exitCode);
    if (!keys) return exitCode;
    std::string done;
    for (const SshPublicKey& key : *keys)
        done += std::string(done.empty() ? "" : "\n") + "Added the key " + key.fingerprint() + " (" + key.type +
                ") to " + displayText(name) + ".";
    return editUsers(
        context,
        [&name, &keys](UsersFile& file) -> std::optional<std::string> {
            const std::vector<UserAccount> all = file.accounts();
            const int index = findAccount(all, name);
            if (index < 0) return noSuchUser(name);
            std::set<std::string> held;
            for (const ShownKey& shown : shownKeysOf(all[static_cast<std::size_t>(index)]))
                if (shown.key) held.insert(shown.key->blob);
            for (const SshPublicKey& key : *keys) {
                // SECURITY-neutral, but one key twice would make del remove both at once.
                if (!held.insert(key.blob).second)
                    return "the key " + key.fingerprint() + " is one of " + displayText(name) + "'s already";
                if (!file.addSshKey(name, key.line())) return noSuchUser(name);
            }
            return std::nullopt;
        },
        done);
}

int listUserKeys(const CommandContext& context) {
    const std::string& name = context.operand(0);
    int exitCode = kExitRefused;
    std::optional<std::vector<UserAccount>> accounts = currentAccounts(context, &exitCode);
    if (!accounts) return exitCode;
    const int index = findAccount(*accounts, name);
    if (index < 0) return context.refuse(noSuchUser(name));
    const std::vector<ShownKey> keys = shownKeysOf((*accounts)[static_cast<std::size_t>(index)]);
    if (context.invocation.json) {
        JsonWriter json;
        json.beginArray();
        for (const ShownKey& shown : keys) {
            json.beginObject();
            if (shown.key) {
                json.key("fingerprint").string(shown.key->fingerprint()).key("type").string(shown.key->type);
                json.key("comment").string(shown.key->comment).key("line").string(shown.key->line());
            } else {
                json.key("fingerprint").null().key("line").string(shown.line).key("error").string(shown.why);
            }
            json.endObject();
        }
        json.endArray();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    if (keys.empty()) {
        context.io.out << displayText(name) << " has no SSH key.\n";
        return kExitDone;
    }
    std::vector<std::vector<std::string>> rows = {{"FINGERPRINT", "TYPE", "COMMENT"}};
    for (const ShownKey& shown : keys) {
        if (shown.key)
            rows.push_back({shown.key->fingerprint(), shown.key->type,
                            shown.key->comment.empty() ? "-" : displayText(shown.key->comment)});
        else
            rows.push_back({"(not a key)", "-", displayText(shown.why)});
    }
    context.io.out << formatTable(rows);
    return kExitDone;
}

int removeUserKey(const CommandContext& context) {
    const std::string& name = context.operand(0);
    const std::string fingerprint = fingerprintOperand(context.operand(1));
    return editUsers(
        context,
        [&name, &fingerprint](UsersFile& file) -> std::optional<std::string> {
            const std::vector<UserAccount> all = file.accounts();
            const int index = findAccount(all, name);
            if (index < 0) return noSuchUser(name);
            const std::vector<ShownKey> keys = shownKeysOf(all[static_cast<std::size_t>(index)]);
            // From the last, so the positions of those still to remove stay as they were.
            std::size_t removed = 0;
            for (std::size_t i = keys.size(); i-- > 0;) {
                if (!keys[i].key || keys[i].key->fingerprint() != fingerprint) continue;
                if (!file.removeSshKey(name, i)) return noSuchUser(name);
                ++removed;
            }
            if (removed == 0) return "no key " + displayText(fingerprint) + " on " + displayText(name);
            return std::nullopt;
        },
        "Removed the key " + displayText(fingerprint) + " from " + displayText(name) + ".");
}

}  // namespace corvel
