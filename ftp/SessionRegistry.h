// The live FTP sessions of a run by client address: how many one address holds
// (<maxperip>), and closing all of an address's sessions when it is banned.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/UniqueFd.h"

namespace corvel {

class Socket;

// Thread-safe.
class SessionRegistry {
public:
    // One session's place in the registry, given back when it is destroyed. It holds a
    // second descriptor of the control connection, so closing the session from
    // another thread never hits a descriptor number the system has given away since.
    class Entry {
        struct Key {
            explicit Key() = default;
        };

    public:
        Entry(Key, SessionRegistry& registry, std::string address, UniqueFd control);
        ~Entry();
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

    private:
        friend class SessionRegistry;
        SessionRegistry& registry_;
        std::string address_;
        UniqueFd control_;
    };

    // Registers a live session of address on control.
    std::unique_ptr<Entry> add(const std::string& address, const Socket& control);
    std::size_t countOf(const std::string& address) const;
    // Shuts the control connection of every session of address down; each session
    // sees its connection end at its next read and ends.
    void closeAll(const std::string& address);

private:
    void remove(Entry* entry);

    mutable std::mutex mutex_;
    std::multimap<std::string, Entry*> entries_;  // guarded by mutex_
};

}  // namespace corvel
