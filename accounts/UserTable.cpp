#include "accounts/UserTable.h"

#include <optional>
#include <tinyxml.h>

#include "accounts/XmlStore.h"
#include "common/DecimalText.h"
#include "common/NamedObjectNames.h"
#include "common/PasswordDigest.h"
#include "common/XmlFiles.h"
#include "common/XmlText.h"
#include "platform/AtomicFile.h"
#include "platform/NamedObjects.h"
#include "platform/SystemLog.h"

namespace corvel {
namespace {

std::string attributeText(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    return value ? std::string(value) : std::string();
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && b[i] == '\0';
}

// Holds the users-file mutex for a scope when it could be had within the wait.
class UsersFileLock {
public:
    explicit UsersFileLock(int timeoutMs) : mutex_(NamedMutex::createOrOpen(names::kUsersFileMutex)) {
        if (mutex_) held_.emplace(*mutex_, timeoutMs);
    }
    bool held() const { return held_ && held_->ownsLock(); }

private:
    std::optional<NamedMutex> mutex_;
    std::optional<NamedMutexLock> held_;
};

}  // namespace

UserTable::UserTable(std::string programDirectory, LogSink* log)
    : programDirectory_(std::move(programDirectory)), log_(log), snapshot_(std::make_shared<Snapshot>()) {}

std::shared_ptr<const UserTable::Snapshot> UserTable::snapshot() const {
    std::lock_guard<std::mutex> guard(snapshotMutex_);
    return snapshot_;
}

void UserTable::log(bool error, const std::string& text) const {
    if (log_) log_->write(error ? LogSeverity::Error : LogSeverity::Information, text);
}

void UserTable::load() { (void)loadFile(LoadMode::Start); }

bool UserTable::reload() { return loadFile(LoadMode::Reload); }

bool UserTable::loadFile(LoadMode mode) {
    auto table = std::make_shared<Snapshot>();
    const std::string path = programDirectory_ + kUsersFileName;
    {
        // The console reads and rewrites the same file under this mutex.
        UsersFileLock lock(kUsersFileLockWaitMs);
        if (!lock.held()) {
            if (mode == LoadMode::Reload) return false;  // the request stays; a later turn tries again
            // Every writer replaces the file atomically, so reading without the lock
            // sees the old or the new file, never half of one.
            log(true, std::string(kUsersFileName) + " stayed locked by another program for " +
                          std::to_string(kUsersFileLockWaitMs / 1000) + " seconds; reading it all the same");
        }

        TiXmlDocument doc;
        if (!loadXmlFile(doc, path)) {
            if (mode != LoadMode::Start) {
                // SECURITY: a damaged or vanished file must not replace the accounts
                // with the default (anonymous) one while the server runs.
                log(true, path + " could not be read (" + xmlErrorText(doc) +
                              "): the accounts already loaded stay in force and the file was left as it is");
                return true;
            }
            ensureDirectory(programDirectory_ + kAnonymousDirectoryName);
            std::string reason;
            XmlLoad outcome = loadOrCreateDefault(doc, path, defaultUsersDocument(programDirectory_).c_str(),
                                                  kPrivateFileMode, &reason);
            if (outcome == XmlLoad::ReplacedBroken)
                log(true, path + " could not be read (" + reason + "): kept it as " + path +
                              ".broken and wrote the default file; only the anonymous account can log in");
            else
                log(false, path + " was missing: wrote the default file with the anonymous account");
        }
        if (const TiXmlElement* root = doc.RootElement()) {
            for (const TiXmlElement* user = root->FirstChildElement("user"); user;
                 user = user->NextSiblingElement("user")) {
                UserAccount account;
                account.username = attributeText(user, "username");
                account.password = attributeText(user, "password");
                account.alias = attributeText(user, "alias");
                account.privilege = static_cast<std::int32_t>(scanDecimal(attributeText(user, "privilege")));
                account.workDir = attributeText(user, "work_dir");
                account.welcomeMessage = attributeText(user, "welcome_msg");
                const char* disabled = user->Attribute("disabled");
                account.disabled = disabled && std::string(disabled) != "no";
                if (equalsIgnoringCase(account.username, "anonymous")) table->anonymousEnabled = !account.disabled;
                if (!account.username.empty() && !account.password.empty() && !account.workDir.empty())
                    table->accounts.push_back(std::move(account));
            }
        }
    }
    std::lock_guard<std::mutex> guard(snapshotMutex_);
    snapshot_ = std::move(table);
    return true;
}

const UserAccount* UserTable::findFirst(const Snapshot& table, const std::string& username) const {
    for (const UserAccount& account : table.accounts)
        if (account.username == username) return &account;
    return nullptr;
}

bool UserTable::authenticate(const std::string& username, const std::string& password) const {
    auto table = snapshot();
    if (username == "anonymous" && table->anonymousEnabled) return true;
    const std::string digest = passwordDigest(password);
    for (const UserAccount& account : table->accounts)
        if (account.username == username && account.password == digest && !account.disabled) return true;
    return false;
}

bool UserTable::logsInWithoutPassword(const std::string& username) const {
    return username == "anonymous" && snapshot()->anonymousEnabled;
}

void UserTable::homeDirectoryOf(const std::string& username, std::string& out) const {
    auto table = snapshot();
    if (const UserAccount* account = findFirst(*table, username)) out = account->workDir;
}

void UserTable::welcomeMessageOf(const std::string& username, std::string& out) const {
    auto table = snapshot();
    if (const UserAccount* account = findFirst(*table, username)) out = account->welcomeMessage;
}

std::uint32_t UserTable::privilegesOf(const std::string& username) const {
    auto table = snapshot();
    const UserAccount* account = findFirst(*table, username);
    return account ? static_cast<std::uint32_t>(account->privilege) : 0;
}

bool UserTable::updatePassword(const std::string& username, const std::string& newPassword) {
    const std::string path = programDirectory_ + kUsersFileName;
    bool stored = false;
    {
        // Taken around the read-modify-write so a console save cannot interleave;
        // released before the reload takes it again.
        UsersFileLock lock(kUsersFileLockWaitMs);
        if (!lock.held()) return false;

        TiXmlDocument doc;
        if (!loadXmlFile(doc, path)) return false;
        TiXmlElement* root = doc.RootElement();
        if (!root) return false;
        for (TiXmlElement* user = root->FirstChildElement("user"); user; user = user->NextSiblingElement("user")) {
            const char* name = user->Attribute("username");
            if (name && username == name) {
                user->SetAttribute("password", passwordDigest(newPassword).c_str());
                stored = saveAtomically(doc, path, kPrivateFileMode);
                break;
            }
        }
    }
    if (stored) (void)loadFile(LoadMode::Refresh);
    return stored;
}

std::vector<UserAccount> UserTable::accounts() const { return snapshot()->accounts; }
bool UserTable::anonymousEnabled() const { return snapshot()->anonymousEnabled; }

}  // namespace corvel
