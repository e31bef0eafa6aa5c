// The live FTP sessions of a run by client address: how many one address holds
// (<maxperip>) and how many of them have not logged in yet (<maxprelogin>), and
// closing all of an address's sessions when it is banned.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "common/ThreadSafety.h"
#include "ftp/SessionAdmission.h"
#include "platform/UniqueFd.h"

namespace corvel {

class Socket;

// Thread-safe.
class SessionRegistry final : public SessionAdmission {
public:
    // One session's place in the registry, given back when it is destroyed. It holds a
    // second descriptor of the control connection, so closing the session from
    // another thread never hits a descriptor number the system has given away since.
    class Entry final : public SessionPlace {
        struct Key {
            explicit Key() = default;
        };

    public:
        Entry(Key, SessionRegistry& registry, std::string address, UniqueFd control);
        ~Entry() override;
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;

        // The session logged in; from now on it no longer counts as not logged in
        // (also after REIN: it showed an account once).
        void markLoggedIn() override;

    private:
        friend class SessionRegistry;
        SessionRegistry& registry_;
        std::string address_;
        UniqueFd control_;
        bool loggedIn_ = false;  // guarded by registry_.mutex_
    };

    // Registers a live session of address on control, unless the address already
    // holds one of the limits' counts (nullptr then). The count and the registration
    // are one step, so sessions arriving together cannot pass a limit.
    std::unique_ptr<SessionPlace> admit(const std::string& address, const Socket& control,
                                        AddressLimits limits) override;
    // Registers a live session of address on control, whatever it holds.
    std::unique_ptr<SessionPlace> add(const std::string& address, const Socket& control);
    std::size_t countOf(const std::string& address) const;
    std::size_t notLoggedInCountOf(const std::string& address) const;
    // Shuts the control connection of every session of address down; each session
    // sees its connection end at its next read and ends.
    void closeAll(const std::string& address);

private:
    void remove(Entry* entry);

    mutable Mutex mutex_;
    std::multimap<std::string, Entry*> entries_ GUARDED_BY(mutex_);
};

}  // namespace corvel
