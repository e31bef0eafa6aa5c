#include "server/SessionRegistry.h"

#include "platform/SocketShutdown.h"

namespace corvel {

SessionRegistry::Entry::Entry(Key, SessionRegistry& registry, std::string address, UniqueFd control)
    : registry_(registry), address_(std::move(address)), control_(std::move(control)) {}

SessionRegistry::Entry::~Entry() { registry_.remove(this); }

void SessionRegistry::Entry::markLoggedIn() {
    MutexLock lock(registry_.mutex_);
    loggedIn_ = true;
}

std::unique_ptr<SessionPlace> SessionRegistry::admit(const std::string& address, const Socket& control,
                                                     AddressLimits limits) {
    auto entry = std::make_unique<Entry>(Entry::Key{}, *this, address, duplicateSocketHandle(control));
    {
        MutexLock lock(mutex_);
        auto [first, last] = entries_.equal_range(address);
        std::size_t sessions = 0;
        std::size_t notLoggedIn = 0;
        for (auto it = first; it != last; ++it) {
            ++sessions;
            if (!it->second->loggedIn_) ++notLoggedIn;
        }
        const bool refused = (limits.sessions > 0 && sessions >= limits.sessions) ||
                             (limits.notLoggedIn > 0 && notLoggedIn >= limits.notLoggedIn);
        if (!refused) {
            entries_.emplace(address, entry.get());
            return entry;
        }
    }
    return nullptr;  // the entry goes after the lock; never registered, it removes nothing
}

std::unique_ptr<SessionPlace> SessionRegistry::add(const std::string& address, const Socket& control) {
    return admit(address, control, AddressLimits{});
}

std::size_t SessionRegistry::countOf(const std::string& address) const {
    MutexLock lock(mutex_);
    return entries_.count(address);
}

std::size_t SessionRegistry::notLoggedInCountOf(const std::string& address) const {
    MutexLock lock(mutex_);
    auto [first, last] = entries_.equal_range(address);
    std::size_t count = 0;
    for (auto it = first; it != last; ++it)
        if (!it->second->loggedIn_) ++count;
    return count;
}

void SessionRegistry::closeAll(const std::string& address) {
    MutexLock lock(mutex_);
    auto [first, last] = entries_.equal_range(address);
    for (auto it = first; it != last; ++it) shutdownBothWays(it->second->control_);
}

void SessionRegistry::remove(Entry* entry) {
    MutexLock lock(mutex_);
    auto [first, last] = entries_.equal_range(entry->address_);
    for (auto it = first; it != last; ++it) {
        if (it->second == entry) {
            entries_.erase(it);
            return;
        }
    }
}

}  // namespace corvel
