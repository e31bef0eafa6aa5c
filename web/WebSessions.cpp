#include "web/WebSessions.h"

#include <algorithm>
#include <array>

#include "platform/SecureRandom.h"

namespace corvel {

std::optional<std::string> newWebSecret() {
    std::array<unsigned char, kWebSecretBytes> bytes{};
    if (!fillSecureRandom(bytes.data(), bytes.size()).ok()) return std::nullopt;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        text.push_back(kHex[b >> 4]);
        text.push_back(kHex[b & 0x0F]);
    }
    return text;
}

bool equalSecrets(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned>(static_cast<unsigned char>(a[i]) ^ static_cast<unsigned char>(b[i]));
    return difference == 0;
}

void WebSessions::dropIdle(WebClock::time_point now) {
    std::erase_if(sessions_, [&](const auto& item) { return now - item.second.lastUse > idleLimit_; });
}

std::optional<std::string> WebSessions::open(const std::string& user, WebClock::time_point now,
                                             std::string passwordStamp) {
    std::optional<std::string> cookie = newWebSecret();
    std::optional<std::string> token = newWebSecret();
    if (!cookie || !token) return std::nullopt;
    MutexLock lock(mutex_);
    dropIdle(now);
    if (sessions_.size() >= capacity_) {
        auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
            return a.second.lastUse < b.second.lastUse;
        });
        sessions_.erase(oldest);
    }
    sessions_[*cookie] = Entry{WebSession{user, std::move(*token), std::move(passwordStamp)}, now};
    return cookie;
}

std::optional<WebSession> WebSessions::use(std::string_view cookie, WebClock::time_point now) {
    MutexLock lock(mutex_);
    auto found = sessions_.find(cookie);
    if (found == sessions_.end()) return std::nullopt;
    if (now - found->second.lastUse > idleLimit_) {
        sessions_.erase(found);
        return std::nullopt;
    }
    found->second.lastUse = std::max(found->second.lastUse, now);
    return found->second.session;
}

void WebSessions::close(std::string_view cookie) {
    MutexLock lock(mutex_);
    if (auto found = sessions_.find(cookie); found != sessions_.end()) sessions_.erase(found);
}

void WebSessions::closeAllOf(std::string_view user) {
    MutexLock lock(mutex_);
    std::erase_if(sessions_, [&](const auto& item) { return item.second.session.user == user; });
}

std::size_t WebSessions::size() const {
    MutexLock lock(mutex_);
    return sessions_.size();
}

}  // namespace corvel
