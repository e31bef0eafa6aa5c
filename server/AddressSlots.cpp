#include "server/AddressSlots.h"

namespace corvel {

AddressSlots::Slot::Slot(std::shared_ptr<AddressSlots> owner, std::string address)
    : owner_(std::move(owner)), address_(std::move(address)) {}

AddressSlots::Slot::~Slot() { owner_->giveBack(address_); }

std::unique_ptr<AddressSlots::Slot> AddressSlots::take(const std::string& address, std::uint32_t limit) {
    {
        MutexLock lock(mutex_);
        std::uint32_t& held = held_[address];  // never 0 here when the limit is reached
        if (limit > 0 && held >= limit) return nullptr;
        ++held;
    }
    return std::make_unique<Slot>(shared_from_this(), address);
}

std::size_t AddressSlots::countOf(const std::string& address) const {
    MutexLock lock(mutex_);
    auto found = held_.find(address);
    return found == held_.end() ? 0 : found->second;
}

void AddressSlots::giveBack(const std::string& address) {
    MutexLock lock(mutex_);
    auto found = held_.find(address);
    if (found == held_.end()) return;
    if (--found->second == 0) held_.erase(found);
}

}  // namespace corvel
