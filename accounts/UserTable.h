// The accounts of ftpusers.xml: login checks and per-account lookups for the FTP
// session and the web browser, and the web browser's password change.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvel {

struct UserAccount {
    std::string username;
    std::string password;  // passwordDigest text
    std::string alias;
    std::string workDir;
    std::string welcomeMessage;
    std::int32_t privilege = 0;
    bool disabled = false;
};

// Thread-safe: readers work on an immutable snapshot; load/reload build a new
// snapshot and publish it whole, so no reader ever sees a half-built table.
class UserTable {
public:
    // programDirectory ends with '/'; the file is programDirectory + "ftpusers.xml".
    explicit UserTable(std::string programDirectory);

    // Reads the file (writing the default document, and creating the anonymous
    // directory, when it cannot be loaded) under the LUMOXMLUSERTABLE mutex.
    void load();
    void reload() { load(); }

    bool authenticate(const std::string& username, const std::string& password) const;
    // Leaves out unchanged when no account has that name.
    void homeDirectoryOf(const std::string& username, std::string& out) const;
    void welcomeMessageOf(const std::string& username, std::string& out) const;
    std::uint32_t privilegesOf(const std::string& username) const;

    // Stores the digest of newPassword on the first account with that name and
    // reloads. Returns false when nothing could be stored (no such account, file
    // unreadable or not writable).
    bool updatePassword(const std::string& username, const std::string& newPassword);

    std::vector<UserAccount> accounts() const;
    bool anonymousEnabled() const;

private:
    struct Snapshot {
        std::vector<UserAccount> accounts;
        bool anonymousEnabled = false;
    };
    std::shared_ptr<const Snapshot> snapshot() const;
    const UserAccount* findFirst(const Snapshot& table, const std::string& username) const;

    std::string programDirectory_;
    mutable std::mutex snapshotMutex_;  // guards snapshot_ (the pointer, not the table)
    std::shared_ptr<const Snapshot> snapshot_;
};

}  // namespace corvel
