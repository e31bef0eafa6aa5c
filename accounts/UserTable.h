// The accounts of ftpusers.xml: login checks and per-account lookups for the FTP
// session and the web browser, and the web browser's password change.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <semaphore>
#include <string>
#include <vector>

#include "accounts/StoredPassword.h"
#include "accounts/VerifiedPasswords.h"
#include "config/UsersFile.h"
#include "common/ThreadSafety.h"

namespace corvel {

class LogSink;



// Thread-safe: readers work on an immutable snapshot; load/reload build a new
// snapshot and publish it whole, so no reader ever sees a half-built table.
class UserTable {
public:
    // programDirectory ends with '/'; the file is programDirectory + "ftpusers.xml".
    // Problems with the file are written to log when one is given.
    explicit UserTable(std::string programDirectory, LogSink* log = nullptr);

    // The start-up load: reads the file under the LUMOXMLUSERTABLE mutex. A file that
    // cannot be loaded is kept as ftpusers.xml.broken (and said so in the log) and
    // the default document, with the anonymous account and its directory, replaces
    // it. When the mutex stays held past kUsersFileLockWaitMs the file is read all
    // the same (every writer replaces it atomically).
    void load();
    // A reload on request. false when the mutex stayed held (try again later). A
    // file that is missing or cannot be read keeps the accounts already loaded and
    // is left as it is (said so in the log), so a damaged file never opens the server.
    bool reload();

    // How new and changed passwords are stored (<passwordhash>); Designed until set.
    void setPasswordScheme(PasswordScheme scheme) { scheme_ = scheme; }

    // Whether the password is that of an enabled account of that name (either stored
    // form). Under Argon2id an account that logged in with a designed digest has it
    // rewritten as Argon2id in the file (under the users-file lock; skipped, for the
    // next login, when the lock is held). Runs on connection threads: an Argon2id
    // check takes tens of milliseconds.
    bool authenticate(const std::string& username, const std::string& password);
    // Whether username logs in without a password check (the anonymous account while
    // it is enabled); such an account has no password of its own to change.
    bool logsInWithoutPassword(const std::string& username) const;
    // The SSH public keys (authorized_keys lines) that sign the account of that name
    // in; none when no account has that name or it is disabled (SECURITY: a disabled
    // account signs in by no method).
    std::vector<std::string> sshKeysOf(const std::string& username) const;
    // Leaves out unchanged when no account has that name.
    void homeDirectoryOf(const std::string& username, std::string& out) const;
    void welcomeMessageOf(const std::string& username, std::string& out) const;
    std::uint32_t privilegesOf(const std::string& username) const;

    // Stores the digest of newPassword on the first account with that name and
    // reloads. Returns false when nothing could be stored (no such account, file
    // unreadable or not writable, the file's mutex held past kUsersFileLockWaitMs).
    bool updatePassword(const std::string& username, const std::string& newPassword);

    std::vector<UserAccount> accounts() const;
    bool anonymousEnabled() const;

    // The stored form of a password that guards something else than an account (a
    // share link's), in the scheme the accounts' new passwords get; nullopt when no
    // salt could be had. Its Argon2id hashing takes one of the same slots.
    std::optional<std::string> storedFormOfSecret(const std::string& password);
    // Whether password is the one stored holds (either form), checked in one of the
    // same slots as the logins, so a burst of guesses cannot take more memory.
    bool matchesStoredSecret(const std::string& stored, const std::string& password);

    // Argon2id checks and hashes that run at once; more wait, so a burst of logins
    // cannot take kArgon2MemoryKiB each without bound.
    static constexpr std::ptrdiff_t kConcurrentHashes = 4;
    // Longest wait for the users-file mutex before a digest's upgrade is left for the
    // account's next login (milliseconds): a login never waits on a console dialog.
    static constexpr int kUpgradeLockWaitMs = 200;

private:
    struct Snapshot {
        std::vector<UserAccount> accounts;
        bool anonymousEnabled = false;
    };
    // Start: a file that cannot be read is replaced by the default. Reload: a held
    // mutex postpones the load. Refresh (after our own write): the file is read even
    // when the mutex stays held. Reload and Refresh keep the table when the file
    // cannot be read.
    enum class LoadMode { Start, Reload, Refresh };
    bool loadFile(LoadMode mode);
    void log(bool error, const std::string& text) const;
    std::shared_ptr<const Snapshot> snapshot() const;
    const UserAccount* findFirst(const Snapshot& table, const std::string& username) const;
    bool matches(const UserAccount& account, const std::string& password, const std::string& designedDigest);
    std::optional<std::string> storedFormOf(const std::string& password);
    void upgradeStoredPassword(const UserAccount& account, const std::string& password);

    std::string programDirectory_;
    LogSink* log_;
    mutable Mutex snapshotMutex_;
    std::shared_ptr<const Snapshot> snapshot_ GUARDED_BY(snapshotMutex_);  // the pointer, not the table
    std::atomic<PasswordScheme> scheme_{PasswordScheme::Designed};
    std::counting_semaphore<kConcurrentHashes> hashSlots_{kConcurrentHashes};
    VerifiedPasswords verified_;  // the web's repeated logins pay the Argon2id check once
};

}  // namespace corvel
