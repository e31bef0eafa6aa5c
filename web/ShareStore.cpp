#include "web/ShareStore.h"

namespace corvel {

ShareLookup ShareStore::find(std::string_view token) const {
    ShareLookup result;
    SharesFileLock lock;
    if (!lock.held()) {
        result.found = ShareFound::Unreadable;
        return result;
    }
    const SharesFile file = SharesFile::readOrEmpty(path_);
    if (!file.loaded()) {
        result.found = ShareFound::Unreadable;
        return result;
    }
    if (std::optional<ShareLink> link = file.findByToken(token)) {
        result.found = ShareFound::Link;
        result.link = std::move(*link);
    }
    return result;
}

std::optional<std::vector<ShareLink>> ShareStore::linksOf(const std::string& owner) const {
    SharesFileLock lock;
    if (!lock.held()) return std::nullopt;
    const SharesFile file = SharesFile::readOrEmpty(path_);
    if (!file.loaded()) return std::nullopt;
    std::vector<ShareLink> links;
    for (ShareLink& link : file.links())
        if (link.owner == owner) links.push_back(std::move(link));
    return links;
}

bool ShareStore::add(const ShareLink& link) {
    SharesFileLock lock;
    if (!lock.held()) return false;
    SharesFile file = SharesFile::readOrEmpty(path_);
    if (!file.loaded()) return false;
    file.add(link);
    return file.save(path_);
}

bool ShareStore::revoke(const std::string& owner, std::string_view id) {
    SharesFileLock lock;
    if (!lock.held()) return false;
    SharesFile file = SharesFile::readOrEmpty(path_);
    if (!file.loaded()) return false;
    bool owned = false;
    for (const ShareLink& link : file.links())
        if (link.id == id && link.owner == owner) owned = true;
    // SECURITY: an account revokes only its own links.
    if (!owned || !file.remove(id)) return false;
    return file.save(path_);
}

ShareUse ShareStore::countUse(std::string_view id) {
    SharesFileLock lock;
    if (!lock.held()) return ShareUse::Failed;
    SharesFile file = SharesFile::readOrEmpty(path_);
    if (!file.loaded()) return ShareUse::Failed;
    for (const ShareLink& link : file.links()) {
        if (link.id != id) continue;
        if (link.usedUp()) return ShareUse::UsedUp;
        // A link without a limit is counted too, so its list says how often it was used.
        if (!file.setUses(id, link.uses + 1) || !file.save(path_)) return ShareUse::Failed;
        return ShareUse::Counted;
    }
    return ShareUse::Gone;
}

}  // namespace corvel
