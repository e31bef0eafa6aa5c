#include "accounts/UserTable.h"

#include <optional>

#include "accounts/LoginGuard.h"
#include "common/PasswordDigest.h"
#include "common/XmlFiles.h"
#include "platform/AtomicFile.h"
#include "platform/SystemLog.h"

namespace corvel {

UserTable::UserTable(std::string programDirectory, LogSink* log)
    : programDirectory_(std::move(programDirectory)), log_(log), snapshot_(std::make_shared<Snapshot>()) {}

std::shared_ptr<const UserTable::Snapshot> UserTable::snapshot() const {
    MutexLock guard(snapshotMutex_);
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

        UsersFile file = UsersFile::read(path);
        if (!file.loaded()) {
            if (mode != LoadMode::Start) {
                // SECURITY: a damaged or vanished file must not replace the accounts
                // with the default (anonymous) one while the server runs.
                log(true, path + " could not be read (" + file.errorText() +
                              "): the accounts already loaded stay in force and the file was left as it is");
                return true;
            }
            ensureDirectory(programDirectory_ + kAnonymousDirectoryName);
            std::string reason;
            XmlLoad outcome = XmlLoad::Loaded;
            file = UsersFile::readOrCreateDefault(path, programDirectory_, &outcome, &reason);
            if (outcome == XmlLoad::ReplacedBroken)
                log(true, path + " could not be read (" + reason + "): kept it as " + path +
                              ".broken and wrote the default file; only the anonymous account can log in");
            else if (outcome == XmlLoad::ReplacedMissing)
                log(false, path + " was missing: wrote the default file with the anonymous account");
        }
        table->accounts = file.accounts();
        table->anonymousEnabled = file.anonymousEnabled();
    }
    MutexLock guard(snapshotMutex_);
    snapshot_ = std::move(table);
    return true;
}

const UserAccount* UserTable::findFirst(const Snapshot& table, const std::string& username) const {
    for (const UserAccount& account : table.accounts)
        if (account.username == username) return &account;
    return nullptr;
}

namespace {

// Holds one of the table's hash slots for a scope.
class HashSlot {
public:
    explicit HashSlot(std::counting_semaphore<UserTable::kConcurrentHashes>& slots) : slots_(slots) {
        slots_.acquire();
    }
    ~HashSlot() { slots_.release(); }
    HashSlot(const HashSlot&) = delete;
    HashSlot& operator=(const HashSlot&) = delete;

private:
    std::counting_semaphore<UserTable::kConcurrentHashes>& slots_;
};

}  // namespace

bool UserTable::matches(const UserAccount& account, const std::string& password, const std::string& designedDigest) {
    if (!isArgon2idForm(account.password)) return account.password == designedDigest;
    if (verified_.recall(account.password, password)) return true;
    HashSlot slot(hashSlots_);
    if (!storedPasswordMatches(account.password, password)) return false;
    verified_.remember(account.password, password);
    return true;
}

std::optional<std::string> UserTable::storedFormOf(const std::string& password) {
    const PasswordScheme scheme = scheme_;
    if (scheme == PasswordScheme::Designed) return storedPasswordFor(password, scheme);
    HashSlot slot(hashSlots_);
    return storedPasswordFor(password, scheme);
}

std::optional<std::string> UserTable::storedFormOfSecret(const std::string& password) {
    return storedFormOf(password);
}

bool UserTable::matchesStoredSecret(const std::string& stored, const std::string& password) {
    if (!isArgon2idForm(stored)) return stored == passwordDigest(password);
    HashSlot slot(hashSlots_);
    return storedPasswordMatches(stored, password);
}

bool UserTable::authenticate(const std::string& username, const std::string& password) {
    auto table = snapshot();
    if (username == "anonymous" && table->anonymousEnabled) return true;
    const std::string digest = passwordDigest(password);
    for (const UserAccount& account : table->accounts) {
        if (account.username != username || account.disabled || !matches(account, password, digest)) continue;
        if (scheme_ == PasswordScheme::Argon2id && !isArgon2idForm(account.password))
            upgradeStoredPassword(account, password);
        return true;
    }
    return false;
}

void UserTable::upgradeStoredPassword(const UserAccount& account, const std::string& password) {
    const std::optional<std::string> upgraded = storedFormOf(password);
    if (!upgraded)
        return log(true, "could not make the Argon2id form of a password (no random salt); user " +
                             quotedForLog(account.username) + " keeps its digest");
    const std::string path = programDirectory_ + kUsersFileName;
    {
        UsersFileLock lock(kUpgradeLockWaitMs);
        if (!lock.held()) return;  // the next login tries again
        UsersFile file = UsersFile::read(path);
        // The element must still hold what this login matched: a file changed
        // meanwhile is left to its writer.
        if (!file.loaded() || !file.replacePassword(account.element, account.username, account.password, *upgraded))
            return;
        if (!file.save(path))
            return log(true, "could not write " + path + " to store the Argon2id form of the password of user " +
                                 quotedForLog(account.username));
    }
    log(false, "stored the password of user " + quotedForLog(account.username) + " as Argon2id");
    (void)loadFile(LoadMode::Refresh);
}

bool UserTable::logsInWithoutPassword(const std::string& username) const {
    return username == "anonymous" && snapshot()->anonymousEnabled;
}

std::vector<std::string> UserTable::sshKeysOf(const std::string& username) const {
    auto table = snapshot();
    const UserAccount* account = findFirst(*table, username);
    if (!account || account->disabled) return {};
    return account->sshKeys;
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
    // Hashed before the lock is taken, so the lock is held no longer than before.
    const std::optional<std::string> stored = storedFormOf(newPassword);
    if (!stored) return false;
    {
        // Taken around the read-modify-write so a console save cannot interleave;
        // released before the reload takes it again.
        UsersFileLock lock(kUsersFileLockWaitMs);
        if (!lock.held()) return false;
        UsersFile file = UsersFile::read(path);
        if (!file.loaded() || !file.setPassword(username, *stored) || !file.save(path)) return false;
    }
    (void)loadFile(LoadMode::Refresh);
    return true;
}

std::vector<UserAccount> UserTable::accounts() const { return snapshot()->accounts; }
bool UserTable::anonymousEnabled() const { return snapshot()->anonymousEnabled; }

}  // namespace corvel
