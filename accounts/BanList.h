// Bans of client addresses that fail to log in too often (<banfailures>), shared by
// the FTP and the web port: a banned address is turned away on both until its ban
// ends, and the bans and their ends are logged.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace corvel {

class LogSink;

struct BanRules {
    std::uint32_t failures = 0;  // failed logins within window that ban; 0: no bans
    std::chrono::minutes window{10};
    std::chrono::minutes length{15};
};

// Addresses whose failures are remembered at once; past it the oldest go first, so
// a flood of addresses cannot grow the list without bound.
constexpr std::size_t kMaxWatchedAddresses = 65536;

// Thread-safe. configure() runs before any connection; the rest from any thread.
class BanList {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Called (outside the list's lock) with an address that was just banned.
    using BanHandler = std::function<void(const std::string& address)>;

    explicit BanList(LogSink* log, Clock now = std::chrono::steady_clock::now);

    void configure(BanRules rules, BanHandler onBan = {});
    bool enabled() const;

    // A failed login from address; true when this failure banned it.
    bool recordFailure(const std::string& address);
    // Whether address is banned now; a ban that ran out is logged as ended here.
    bool isBanned(const std::string& address);
    // Logs the end of every ban that ran out (the listener calls it now and then).
    void sweep();

private:
    struct Watch {
        std::deque<std::chrono::steady_clock::time_point> failures;  // within the window
        std::chrono::steady_clock::time_point bannedUntil{};
        bool banned = false;
    };
    // Both with mutex_ held.
    void endExpired(std::chrono::steady_clock::time_point now);
    void endBan(const std::string& address, Watch& watch);

    LogSink* log_;
    Clock now_;
    mutable std::mutex mutex_;
    BanRules rules_;                       // guarded by mutex_
    BanHandler onBan_;                     // guarded by mutex_
    std::map<std::string, Watch> watched_;  // guarded by mutex_
};

}  // namespace corvel
