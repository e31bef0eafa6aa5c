// The format of ftpshares.xml, the web client's share links, owned here for every
// program: the server's links and corvelctl's share commands read and write it only
// through this, under the shares-file lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/XmlFile.h"
#include "platform/NamedObjects.h"

namespace corvel {

// What a link opens.
enum class ShareKind {
    File,     // one file to download
    Folder,   // a folder to look through and download from
    DropBox,  // a folder visitors send files to without seeing it
};

// "file", "folder", "dropbox".
std::string_view shareKindName(ShareKind kind);
std::optional<ShareKind> shareKindValue(std::string_view text);
// The right a link of kind needs of its owner, when it is made and at every use.
std::uint32_t ownerRightOf(ShareKind kind);

// One link, as the file's share element holds it.
struct ShareLink {
    std::string id;           // short and public: what the lists show and revoke takes
    std::string tokenDigest;  // SHA-256 of the link's secret, lower-case hex; the secret itself is never stored
    std::string owner;        // the account whose files and rights the link uses
    std::string path;         // from the owner's home, names joined by "/"; "" is the home
    ShareKind kind = ShareKind::File;
    std::int64_t created = 0;  // seconds since the epoch
    std::int64_t expires = 0;  // the first second (since the epoch) it no longer works; 0: never
    std::string password;      // the stored form (accounts/StoredPassword), empty: none
    std::int64_t maxUses = 0;  // downloads (a drop box: files received) it allows; 0: no limit
    std::int64_t uses = 0;     // how many it has had

    bool expiredAt(std::int64_t now) const { return expires != 0 && now >= expires; }
    bool usedUp() const { return maxUses != 0 && uses >= maxUses; }
};

// Movable; owned by one thread. The caller holds SharesFileLock around a read that
// leads to a write, so two programs never lose each other's change.
class SharesFile : public XmlFile {
public:
    static SharesFile read(const std::string& path);
    static SharesFile parse(std::string_view text);
    // An empty list ("<shares></shares>"): what a missing file is.
    static SharesFile empty();
    // read, with a missing file taken as empty(); an unreadable one stays Unreadable
    // (and is never rewritten).
    static SharesFile readOrEmpty(const std::string& path);

    // The links with an id, a digest, an owner and a known kind, in file order
    // (other share elements are no link and are kept as they are).
    std::vector<ShareLink> links() const;
    // The link whose digest is that of token; nullopt when none is.
    std::optional<ShareLink> findByToken(std::string_view token) const;
    // Appends link as a new share element.
    void add(const ShareLink& link);
    // Removes the share element with that id; false when there is none.
    bool remove(std::string_view id);
    // Sets the use count of the link with that id; its other attributes and children
    // stay. false when there is none.
    bool setUses(std::string_view id, std::int64_t uses);

    // Writes the file; a new one is 0600 (it holds password hashes).
    [[nodiscard]] bool save(const std::string& path) const { return XmlFile::save(path, kPrivateFileMode); }
    SharesFile copy() const;

private:
    SharesFile() = default;
};

// Random bytes of a link's secret: 192 bits, written as 32 base64url characters.
constexpr std::size_t kShareTokenBytes = 24;
constexpr std::size_t kShareTokenChars = 32;
// Random bytes of a link's public id (12 hex characters).
constexpr std::size_t kShareIdBytes = 6;

// A new link's secret and what the file stores of it.
struct ShareSecret {
    std::string token;   // goes into the link, shown once
    std::string digest;  // shareTokenDigest(token)
    std::string id;      // random, public
};
// nullopt when the system's generator gave no bytes (then no link is made).
std::optional<ShareSecret> newShareSecret();
// SECURITY: the file keeps the SHA-256 of each token, not the token: a copy of the
// file (a backup, a leaked disk) opens no link. The tokens are random, so a plain
// hash is as hard to turn back as the token is to guess.
std::string shareTokenDigest(std::string_view token);
// Whether text has a token's form (kShareTokenChars of A-Z a-z 0-9 - _).
bool isShareTokenText(std::string_view text);

// The link path of a token, "/app/s/TOKEN".
std::string shareLinkPath(std::string_view token);

// The expiry a date gives, "YYYY-MM-DD": the link works through that day (UTC), so
// it ends at the next midnight UTC. nullopt for any other text or an impossible date.
std::optional<std::int64_t> shareExpiryOfDate(std::string_view date);
// "YYYY-MM-DD HH:MM UTC" of seconds since the epoch.
std::string shareTimeText(std::int64_t seconds);

// Longest wait for the shares-file mutex (milliseconds).
constexpr int kSharesFileLockWaitMs = 5000;

// Holds the CORVELFTP_SHARESMutex mutex for a scope when it could be had within the
// wait; every program that reads or rewrites ftpshares.xml takes it. Each instance
// opens the mutex anew, so threads of one process exclude each other as well.
class SharesFileLock {
public:
    explicit SharesFileLock(int timeoutMs = kSharesFileLockWaitMs);
    bool held() const { return held_ && held_->ownsLock(); }

private:
    std::optional<NamedMutex> mutex_;
    std::optional<NamedMutexLock> held_;
};

}  // namespace corvel
