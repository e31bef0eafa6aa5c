// The address a PASV reply announces: the control connection's own address for
// clients of the same network, and the configured public address (<pasvaddress>,
// an address or a host name) for the others, as a server behind a router needs.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "common/ThreadSafety.h"

namespace corvel {

// Whether a peer is one the server's own address reaches: loopback, private
// (RFC 1918), link-local, carrier-grade NAT (RFC 6598). IPv4 text only.
bool isNearbyAddress(const std::string& dotted);

// A host name is looked up again at most this often (dynamic DNS changes).
constexpr std::chrono::seconds kPassiveAddressRefresh{60};

// Shared by every session of a run; thread-safe.
class PassiveAddress {
public:
    using Resolver = std::function<std::string(const std::string&)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // configured: <pasvaddress>, empty for none. resolve turns a name into a dotted
    // IPv4 address (empty when it cannot). now is the clock (tests give their own).
    PassiveAddress(std::string configured, Resolver resolve, Clock now = std::chrono::steady_clock::now);

    // What to announce to peer on a control connection whose own address is local.
    // A name that cannot be resolved gives its last good address, or else local.
    std::string announcedFor(const std::string& peer, const std::string& local) const;

private:
    std::string configured_;
    Resolver resolve_;
    Clock now_;
    mutable Mutex mutex_;
    mutable std::string resolved_ GUARDED_BY(mutex_);
    mutable std::chrono::steady_clock::time_point resolvedAt_ GUARDED_BY(mutex_){};
    mutable bool tried_ GUARDED_BY(mutex_) = false;
};

}  // namespace corvel
