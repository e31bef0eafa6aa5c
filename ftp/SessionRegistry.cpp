#include "ftp/SessionRegistry.h"

#include "platform/SocketShutdown.h"

namespace corvel {

SessionRegistry::Entry::Entry(Key, SessionRegistry& registry, std::string address, UniqueFd control)
    : registry_(registry), address_(std::move(address)), control_(std::move(control)) {}

SessionRegistry::Entry::~Entry() { registry_.remove(this); }

std::unique_ptr<SessionRegistry::Entry> SessionRegistry::add(const std::string& address, const Socket& control) {
    auto entry = std::make_unique<Entry>(Entry::Key{}, *this, address, duplicateSocketHandle(control));
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.emplace(address, entry.get());
    return entry;
}

std::size_t SessionRegistry::countOf(const std::string& address) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.count(address);
}

void SessionRegistry::closeAll(const std::string& address) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [first, last] = entries_.equal_range(address);
    for (auto it = first; it != last; ++it) shutdownBothWays(it->second->control_);
}

void SessionRegistry::remove(Entry* entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto [first, last] = entries_.equal_range(entry->address_);
    for (auto it = first; it != last; ++it) {
        if (it->second == entry) {
            entries_.erase(it);
            return;
        }
    }
}

}  // namespace corvel
