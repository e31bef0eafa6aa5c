#include "accounts/BanList.h"

#include <vector>

#include "platform/SystemLog.h"

namespace corvel {

BanList::BanList(LogSink* log, Clock now) : log_(log), now_(std::move(now)) {}

void BanList::configure(BanRules rules, BanHandler onBan) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_ = rules;
    onBan_ = std::move(onBan);
    watched_.clear();
}

bool BanList::enabled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rules_.failures > 0;
}

bool BanList::recordFailure(const std::string& address) {
    BanHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (rules_.failures == 0 || address.empty()) return false;
        const auto now = now_();
        if (watched_.size() >= kMaxWatchedAddresses && !watched_.count(address)) {
            // Forget the address with the oldest last failure that is not banned.
            auto lastFailure = [](const Watch& watch) {
                return watch.failures.empty() ? std::chrono::steady_clock::time_point{} : watch.failures.back();
            };
            auto oldest = watched_.end();
            for (auto it = watched_.begin(); it != watched_.end(); ++it)
                if (!it->second.banned && (oldest == watched_.end() || lastFailure(it->second) < lastFailure(oldest->second)))
                    oldest = it;
            if (oldest != watched_.end()) watched_.erase(oldest);
        }
        Watch& watch = watched_[address];
        if (watch.banned && now >= watch.bannedUntil) endBan(address, watch);
        if (watch.banned) return false;
        watch.failures.push_back(now);
        while (!watch.failures.empty() && now - watch.failures.front() >= rules_.window) watch.failures.pop_front();
        if (watch.failures.size() < rules_.failures) return false;
        watch.banned = true;
        watch.bannedUntil = now + rules_.length;
        watch.failures.clear();
        if (log_)
            log_->write(LogSeverity::Warning, "ban: address=" + address + " for " +
                                                  std::to_string(rules_.length.count()) + " minutes after " +
                                                  std::to_string(rules_.failures) + " failed logins within " +
                                                  std::to_string(rules_.window.count()) + " minutes");
        handler = onBan_;
    }
    if (handler) handler(address);
    return true;
}

bool BanList::isBanned(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rules_.failures == 0) return false;
    auto it = watched_.find(address);
    if (it == watched_.end() || !it->second.banned) return false;
    if (now_() < it->second.bannedUntil) return true;
    endBan(address, it->second);
    return false;
}

void BanList::endBan(const std::string& address, Watch& watch) {
    watch.banned = false;
    if (log_) log_->write(LogSeverity::Information, "ban ended: address=" + address);
}

void BanList::sweep() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rules_.failures == 0) return;
    endExpired(now_());
}

void BanList::endExpired(std::chrono::steady_clock::time_point now) {
    for (auto it = watched_.begin(); it != watched_.end();) {
        Watch& watch = it->second;
        if (watch.banned && now >= watch.bannedUntil) endBan(it->first, watch);
        while (!watch.failures.empty() && now - watch.failures.front() >= rules_.window) watch.failures.pop_front();
        if (!watch.banned && watch.failures.empty())
            it = watched_.erase(it);
        else
            ++it;
    }
}

}  // namespace corvel
