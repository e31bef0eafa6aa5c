#include "accounts/BanList.h"

#include "platform/Socket.h"
#include "platform/SystemLog.h"

namespace corvel {

BanList::BanList(LogSink* log, Clock now) : log_(log), now_(std::move(now)) {}

void BanList::configure(BanRules rules, BanHandler onBan) {
    MutexLock lock(mutex_);
    rules_ = rules;
    onBan_ = std::move(onBan);
    watched_.clear();
    watchOrder_.clear();
    banned_.clear();
    banOrder_.clear();
    bannedInPrefix_.clear();
}

bool BanList::enabled() const {
    MutexLock lock(mutex_);
    return rules_.failures > 0;
}

bool BanList::recordFailure(const std::string& address) {
    if (address.empty()) return false;
    const std::string prefix = ipv6Prefix64(address);  // parsed before the lock is taken
    std::vector<Note> notes;
    BanHandler handler;
    bool banned = false;
    {
        MutexLock lock(mutex_);
        if (rules_.failures == 0) return false;
        banned = countFailure(address, prefix, now_(), notes);
        if (banned) handler = onBan_;
    }
    write(notes);
    if (banned && handler) handler(address);
    return banned;
}

bool BanList::countFailure(const std::string& address, const std::string& prefix, TimePoint now,
                           std::vector<Note>& notes) {
    // No count while banned.
    if (banRuns(address, now, notes) || (!prefix.empty() && banRuns(prefix, now, notes))) return false;
    auto found = watched_.find(address);
    if (found == watched_.end()) {
        if (watched_.size() >= kMaxWatchedAddresses) forget(std::prev(watchOrder_.end()));
        watchOrder_.push_front(Watch{address, {}});
        found = watched_.emplace(watchOrder_.front().address, watchOrder_.begin()).first;
    } else {
        watchOrder_.splice(watchOrder_.begin(), watchOrder_, found->second);
    }
    std::vector<TimePoint>& failures = found->second->failures;
    std::size_t gone = 0;
    while (gone < failures.size() && now - failures[gone] >= rules_.window) ++gone;
    failures.erase(failures.begin(), failures.begin() + static_cast<std::ptrdiff_t>(gone));
    failures.push_back(now);
    if (failures.size() < rules_.failures) return false;
    forget(found->second);
    ban(address, prefix, now,
        "after " + std::to_string(rules_.failures) + " failed logins within " + std::to_string(rules_.window.count()) +
            " minutes",
        notes);
    if (!prefix.empty() && bannedInPrefix_[prefix] >= kBannedAddressesThatBanTheirPrefix &&
        !banRuns(prefix, now, notes))
        ban(prefix, {}, now, "after " + std::to_string(kBannedAddressesThatBanTheirPrefix) + " of its addresses were banned",
            notes);
    return true;
}

bool BanList::isBanned(const std::string& address) {
    const std::string prefix = ipv6Prefix64(address);
    std::vector<Note> notes;
    bool banned = false;
    {
        MutexLock lock(mutex_);
        if (rules_.failures == 0) return false;
        const TimePoint now = now_();
        banned = banRuns(address, now, notes) || (!prefix.empty() && banRuns(prefix, now, notes));
    }
    write(notes);
    return banned;
}

void BanList::sweep() {
    std::vector<Note> notes;
    {
        MutexLock lock(mutex_);
        if (rules_.failures == 0) return;
        const TimePoint now = now_();
        // Both lists are in time order, so only what ran out is looked at.
        std::size_t ended = 0;
        while (!banOrder_.empty() && banOrder_.front().until <= now && ended++ < kMaxBanEndsPerSweep)
            endBan(banOrder_.begin(), notes);
        std::size_t forgotten = 0;
        while (!watchOrder_.empty() && now - watchOrder_.back().failures.back() >= rules_.window &&
               forgotten++ < kMaxBanEndsPerSweep)
            forget(std::prev(watchOrder_.end()));
    }
    write(notes);
}

std::size_t BanList::watchedCount() const {
    MutexLock lock(mutex_);
    return watched_.size();
}

std::size_t BanList::bannedCount() const {
    MutexLock lock(mutex_);
    return banned_.size();
}

void BanList::forget(WatchList::iterator watch) {
    watched_.erase(std::string_view(watch->address));
    watchOrder_.erase(watch);
}

void BanList::ban(const std::string& key, const std::string& prefix, TimePoint now, std::string why,
                  std::vector<Note>& notes) {
    // SECURITY: the table is bounded; when it is full the ban nearest its end gives way.
    if (banned_.size() >= kMaxBannedAddresses) endBan(banOrder_.begin(), notes);
    banOrder_.push_back(Ban{key, now + rules_.length, prefix});
    banned_.emplace(banOrder_.back().address, std::prev(banOrder_.end()));
    if (!prefix.empty()) ++bannedInPrefix_[prefix];
    notes.push_back({true, "ban: address=" + key + " for " + std::to_string(rules_.length.count()) + " minutes " +
                               why});
}

void BanList::endBan(BanQueue::iterator ban, std::vector<Note>& notes) {
    notes.push_back({false, "ban ended: address=" + ban->address});
    if (!ban->prefix.empty()) {
        auto counted = bannedInPrefix_.find(ban->prefix);
        if (counted != bannedInPrefix_.end() && --counted->second == 0) bannedInPrefix_.erase(counted);
    }
    banned_.erase(std::string_view(ban->address));
    banOrder_.erase(ban);
}

bool BanList::banRuns(const std::string& key, TimePoint now, std::vector<Note>& notes) {
    auto found = banned_.find(key);
    if (found == banned_.end()) return false;
    if (now < found->second->until) return true;
    endBan(found->second, notes);
    return false;
}

void BanList::write(const std::vector<Note>& notes) const {
    if (!log_) return;
    for (const Note& note : notes) log_->write(note.ban ? LogSeverity::Warning : LogSeverity::Information, note.text);
}

}  // namespace corvel
