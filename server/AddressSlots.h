// How many connections each client address holds at once, for the per-address
// limit of the web port (<webmaxperip>): a connection takes a slot for its whole
// life, and an address holding its limit gets no more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "common/ThreadSafety.h"

namespace corvel {

// Thread-safe. Shared through a std::shared_ptr, since a slot may outlive the run
// that handed it out (connection threads are never joined).
class AddressSlots : public std::enable_shared_from_this<AddressSlots> {
public:
    // One connection's place; given back when it is destroyed.
    class Slot {
    public:
        Slot(std::shared_ptr<AddressSlots> owner, std::string address);
        ~Slot();
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

    private:
        std::shared_ptr<AddressSlots> owner_;
        std::string address_;
    };

    // A slot of address, or nullptr when it already holds limit of them; limit 0
    // means no limit. Constant time.
    std::unique_ptr<Slot> take(const std::string& address, std::uint32_t limit);
    std::size_t countOf(const std::string& address) const;

private:
    void giveBack(const std::string& address);

    mutable Mutex mutex_;
    // Only addresses holding a slot are here, so the map is never larger than the
    // number of live connections.
    std::unordered_map<std::string, std::uint32_t> held_ GUARDED_BY(mutex_);
};

}  // namespace corvel
