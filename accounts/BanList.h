// Bans of client addresses that fail to log in too often (<banfailures>), shared by
// the FTP and the web port: a banned address is turned away on both until its ban
// ends, and the bans and their ends are logged.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/ThreadSafety.h"

namespace corvel {

class LogSink;

struct BanRules {
    std::uint32_t failures = 0;  // failed logins within window that ban; 0: no bans
    std::chrono::minutes window{10};
    std::chrono::minutes length{15};
};

// Addresses whose failures are remembered at once; past it the one whose last
// failure lies furthest back is forgotten, so a flood of addresses cannot grow the
// table without bound.
constexpr std::size_t kMaxWatchedAddresses = 65536;
// Bans held at once, apart from the addresses still being watched; past it the ban
// that would end soonest ends now (and is logged as ended).
constexpr std::size_t kMaxBannedAddresses = 65536;
// Banned IPv6 addresses of one /64 that ban the whole /64: a single host usually
// holds all of its /64, so banning its addresses one by one would never end.
constexpr std::size_t kBannedAddressesThatBanTheirPrefix = 4;
// Bans one sweep ends (and logs) at most, and watched addresses it forgets at
// most; the rest wait for the next sweep (a ban that ran out no longer turns its
// address away meanwhile), so one turn of the listener stays short.
constexpr std::size_t kMaxBanEndsPerSweep = 1024;

// Thread-safe. configure() runs before any connection; the rest from any thread.
// Every operation takes a constant time (hash look-ups and list moves) under the
// list's lock; no operation walks the tables.
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
    // Whether address (or, for IPv6, its /64) is banned now.
    bool isBanned(const std::string& address);
    // Forgets what ran out (watched addresses whose failures all left the window,
    // bans that ended) and logs the ends of bans, at most kMaxBanEndsPerSweep of
    // each per call. The listener calls it every turn.
    void sweep();

    // How many addresses are watched and how many bans (addresses and /64s) are held.
    std::size_t watchedCount() const;
    std::size_t bannedCount() const;

private:
    using TimePoint = std::chrono::steady_clock::time_point;
    struct Watch {
        std::string address;
        std::vector<TimePoint> failures;  // within the window, oldest first; never more than the rule's count
    };
    struct Ban {
        std::string address;  // an address, or an IPv6 "prefix::/64"
        TimePoint until;
        std::string prefix;  // an IPv6 address's /64, whose banned addresses it counts in; else empty
    };
    // Front: the latest failure; so the back is the first to forget.
    using WatchList = std::list<Watch>;
    // In the order bans began, which with one ban length is the order they end.
    using BanQueue = std::list<Ban>;

    // A line for the log, written once the lock is given back.
    struct Note {
        bool ban = false;  // a ban (a warning), else the end of one
        std::string text;
    };
    bool countFailure(const std::string& address, const std::string& prefix, TimePoint now, std::vector<Note>& notes)
        REQUIRES(mutex_);
    void forget(WatchList::iterator watch) REQUIRES(mutex_);
    void ban(const std::string& key, const std::string& prefix, TimePoint now, std::string why,
             std::vector<Note>& notes) REQUIRES(mutex_);
    void endBan(BanQueue::iterator ban, std::vector<Note>& notes) REQUIRES(mutex_);
    // Whether key's ban still runs; a ban that ran out but was not swept yet ends here.
    bool banRuns(const std::string& key, TimePoint now, std::vector<Note>& notes) REQUIRES(mutex_);
    void write(const std::vector<Note>& notes) const;

    LogSink* log_;
    Clock now_;
    mutable Mutex mutex_;
    BanRules rules_ GUARDED_BY(mutex_);
    BanHandler onBan_ GUARDED_BY(mutex_);
    WatchList watchOrder_ GUARDED_BY(mutex_);
    std::unordered_map<std::string_view, WatchList::iterator> watched_ GUARDED_BY(mutex_);  // keys in watchOrder_
    BanQueue banOrder_ GUARDED_BY(mutex_);
    std::unordered_map<std::string_view, BanQueue::iterator> banned_ GUARDED_BY(mutex_);    // keys in banOrder_
    std::unordered_map<std::string, std::size_t> bannedInPrefix_ GUARDED_BY(mutex_);        // /64 -> its banned addresses
};

}  // namespace corvel
