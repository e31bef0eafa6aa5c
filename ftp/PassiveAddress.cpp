#include "ftp/PassiveAddress.h"

#include <array>
#include <cstdio>

namespace corvel {
namespace {

// The four numbers of a dotted IPv4 text; false when it is none.
bool octetsOf(const std::string& dotted, std::array<unsigned, 4>& octets) {
    char tail = 0;
    if (std::sscanf(dotted.c_str(), "%u.%u.%u.%u%c", &octets[0], &octets[1], &octets[2], &octets[3], &tail) != 4)
        return false;
    for (unsigned octet : octets)
        if (octet > 255) return false;
    return true;
}

}  // namespace

bool isNearbyAddress(const std::string& dotted) {
    std::array<unsigned, 4> o{};
    if (!octetsOf(dotted, o)) return false;
    return o[0] == 127 ||                                 // loopback
           o[0] == 10 ||                                  // 10.0.0.0/8
           (o[0] == 172 && o[1] >= 16 && o[1] <= 31) ||   // 172.16.0.0/12
           (o[0] == 192 && o[1] == 168) ||                // 192.168.0.0/16
           (o[0] == 169 && o[1] == 254) ||                // link-local
           (o[0] == 100 && o[1] >= 64 && o[1] <= 127);    // carrier-grade NAT 100.64.0.0/10
}

PassiveAddress::PassiveAddress(std::string configured, Resolver resolve, Clock now)
    : configured_(std::move(configured)), resolve_(std::move(resolve)), now_(std::move(now)) {}

std::string PassiveAddress::announcedFor(const std::string& peer, const std::string& local) const {
    if (configured_.empty() || isNearbyAddress(peer)) return local;
    std::array<unsigned, 4> octets{};
    if (octetsOf(configured_, octets)) return configured_;
    MutexLock lock(mutex_);
    const auto now = now_();
    if (!tried_ || now - resolvedAt_ >= kPassiveAddressRefresh) {
        tried_ = true;
        resolvedAt_ = now;  // one lookup a minute, also when it fails
        lock.unlock();
        const std::string fresh = resolve_(configured_);
        lock.lock();
        if (!fresh.empty()) resolved_ = fresh;
    }
    return resolved_.empty() ? local : resolved_;
}

}  // namespace corvel
