// The web client's share links as the server uses them: each call reads
// ftpshares.xml anew under the shares-file lock (the file is small, and corvelctl
// changes it while the server runs, so no reload is needed), and every change is
// saved at once. Shared by every web connection of a run; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/SharesFile.h"

namespace corvel {

enum class ShareFound {
    Link,        // the token names a link (which may have ended: see ShareLink)
    None,        // no link has that token
    Unreadable,  // the file could not be read or its lock stayed held
};

struct ShareLookup {
    ShareFound found = ShareFound::None;
    ShareLink link;
};

enum class ShareUse {
    Counted,  // the use was counted and saved
    UsedUp,   // the link had no use left (nothing changed)
    Gone,     // no link of that id any more (revoked meanwhile)
    Failed,   // the file could not be read or written, or its lock stayed held
};

class ShareStore {
public:
    // path: the program directory's ftpshares.xml.
    explicit ShareStore(std::string path) : path_(std::move(path)) {}

    ShareLookup find(std::string_view token) const;
    // The links of owner in file order; nullopt when the file could not be read.
    std::optional<std::vector<ShareLink>> linksOf(const std::string& owner) const;
    // Saves a new link; false when the file could not be read or written.
    [[nodiscard]] bool add(const ShareLink& link);
    // Removes owner's link id; false when owner has no such link or it could not be saved.
    [[nodiscard]] bool revoke(const std::string& owner, std::string_view id);
    // Counts one use of the link id when it has one left.
    ShareUse countUse(std::string_view id);

    const std::string& path() const { return path_; }

private:
    const std::string path_;
};

}  // namespace corvel
