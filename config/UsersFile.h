// The format of ftpusers.xml, owned here for every program: the server's table, the
// console's dialogs and the command-line tool read and write it only through this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/XmlFile.h"
#include "platform/NamedObjects.h"

namespace corvel {

// One account, as the file's user element holds it.
struct UserAccount {
    std::string username;
    std::string password;  // passwordDigest text
    std::string alias;
    std::string workDir;
    std::string welcomeMessage;
    std::int32_t privilege = 0;
    bool disabled = false;
    // Which user element of the file it was read from (0-based), so that a rewrite
    // keeps that element's other attributes and children; -1 for a new account.
    int element = -1;
    // The account's SSH public keys, one authorized_keys line each ("ssh-ed25519
    // AAAA... comment"), as the <sshkey> children of its element hold them. Read
    // only: replaceAccounts keeps an element's children, so the keys change through
    // addSshKey and removeSshKey alone.
    std::vector<std::string> sshKeys = {};

    bool sameFields(const UserAccount& other) const;
};

// Movable; owned by one thread.
class UsersFile : public XmlFile {
public:
    // Reads path; the caller holds the users-file lock where it must (UsersFileLock).
    static UsersFile read(const std::string& path);
    static UsersFile parse(std::string_view text);
    // An empty list ("<users></users>"), as a file the console creates.
    static UsersFile empty();
    // Reads path; when that fails, the damaged file is kept as path + ".broken", the
    // default document (the anonymous account with its home in programDirectory) is
    // saved 0600 and used. *reason says why the file could not be read.
    static UsersFile readOrCreateDefault(const std::string& path, const std::string& programDirectory,
                                         XmlLoad* outcome, std::string* reason);

    // The accounts that have a name, a password and a home directory, in file order
    // (elements without them are no account and are left out).
    std::vector<UserAccount> accounts() const;
    // Whether "anonymous" logs in without a password: decided by the last user
    // element whose name is anonymous in any letter case, complete or not.
    bool anonymousEnabled() const;

    // Sets the password of the first element whose username is username; nothing
    // else in the file changes. false when there is no such element.
    bool setPassword(const std::string& username, const std::string& digest);
    // Sets the password of the user element at index (0-based, as UserAccount::element)
    // when it still holds username and expected; nothing else in the file changes.
    // false when that element holds anything else (the file changed since it was read).
    bool replacePassword(int element, const std::string& username, const std::string& expected,
                         const std::string& replacement);

    // Adds key (one authorized_keys line, checked by the caller) as a new <sshkey>
    // child of the first element whose username is username; nothing else changes.
    // false when there is no such element.
    bool addSshKey(const std::string& username, const std::string& key);
    // Removes the <sshkey> child at index (0-based, in the order of
    // UserAccount::sshKeys) of the first element whose username is username. false
    // when there is no such element or key.
    bool removeSshKey(const std::string& username, std::size_t index);

    // Makes accounts, in this order, the file's accounts. Each is written with the
    // seven attributes in their fixed order; one read from an element keeps that
    // element's other attributes (after the seven) and its children. Everything else
    // in the file (root, other elements, comments) stays; elements that were no
    // complete account go.
    void replaceAccounts(const std::vector<UserAccount>& accounts);

    // Writes the file; a new one is 0600 (it holds password digests).
    [[nodiscard]] bool save(const std::string& path) const { return XmlFile::save(path, kPrivateFileMode); }

    // A separate copy: change it, save it, and keep this one until the save succeeded.
    UsersFile copy() const;

private:
    UsersFile() = default;
};

// Longest wait for the users-file mutex (milliseconds). A holder that keeps it
// longer makes a reload wait for a later turn instead of stalling the server.
constexpr int kUsersFileLockWaitMs = 5000;

// Holds the LUMOXMLUSERTABLE mutex for a scope when it could be had within the wait;
// every program that reads or rewrites ftpusers.xml takes it.
class UsersFileLock {
public:
    explicit UsersFileLock(int timeoutMs = kUsersFileLockWaitMs);
    bool held() const { return held_ && held_->ownsLock(); }

private:
    std::optional<NamedMutex> mutex_;
    std::optional<NamedMutexLock> held_;
};

}  // namespace corvel
