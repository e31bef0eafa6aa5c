// When the limits per client address bind: once a port is half full. Until then a
// burst from one address (an office behind one NAT address, a mirror opening many
// connections at once, a benchmark) is served as long as there is room; from then on
// one address can never take more than its share of what is left.
#pragma once

#include <cstdint>

namespace corvel {

// The per-address limit to apply now, given how many connections the port holds
// (live) and how many it may hold in all (total); 0 means no limit.
constexpr std::uint32_t perAddressLimitInForce(std::uint32_t limit, std::uint64_t live, std::uint64_t total) {
    return live * 2 >= total ? limit : 0;
}

}  // namespace corvel
