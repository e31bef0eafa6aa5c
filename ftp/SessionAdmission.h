// How a new FTP session takes its place among the live ones of its client address;
// the server's session registry is the implementation.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace corvel {

class Socket;

// One session's place, given back when it is destroyed.
class SessionPlace {
public:
    virtual ~SessionPlace() = default;
    // The session logged in; from now on it no longer counts as not logged in
    // (also after REIN: it showed an account once).
    virtual void markLoggedIn() = 0;
};

// The limits a new session of an address must stay within; 0: no limit.
struct AddressLimits {
    std::size_t sessions = 0;     // all its sessions (<maxperip>)
    std::size_t notLoggedIn = 0;  // its sessions not logged in yet (<maxprelogin>)
};

class SessionAdmission {
public:
    // A place for a live session of address on control, unless the address already
    // holds one of the limits' counts (nullptr then). Thread-safe.
    virtual std::unique_ptr<SessionPlace> admit(const std::string& address, const Socket& control,
                                                AddressLimits limits) = 0;

protected:
    ~SessionAdmission() = default;
};

}  // namespace corvel
