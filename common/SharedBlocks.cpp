#include "common/SharedBlocks.h"

#include <algorithm>
#include <cstring>

namespace corvel {
namespace {

void put16(std::uint8_t* p, std::uint16_t v) { p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); }
void put32(std::uint8_t* p, std::uint32_t v) { for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i)); }
std::uint16_t get16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

}  // namespace

void StatusBlock::encode(std::uint8_t* bytes) const {
    // A longer configured address is cut so the field keeps its terminator.
    std::size_t length = std::min(listenAddress.size(), kStatusAddressBytes - 1);
    std::memset(bytes, 0, kStatusAddressBytes);
    std::memcpy(bytes, listenAddress.data(), length);
    put16(bytes + 16, ftpPort);
    put16(bytes + 18, webPort);
    put16(bytes + 20, connectionLimit);
    put32(bytes + 24, std::uint32_t(activeConnections));
    put32(bytes + 28, std::uint32_t(startTime));
}

StatusBlock StatusBlock::decode(const std::uint8_t* bytes) {
    StatusBlock block;
    block.listenAddress.assign(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), kStatusAddressBytes));
    block.ftpPort = get16(bytes + 16);
    block.webPort = get16(bytes + 18);
    block.connectionLimit = get16(bytes + 20);
    block.activeConnections = std::int32_t(get32(bytes + 24));
    block.startTime = std::int32_t(get32(bytes + 28));
    return block;
}

std::uint32_t readControlWord(const std::uint8_t* bytes) { return get32(bytes); }
void writeControlWord(std::uint8_t* bytes, std::uint32_t value) { put32(bytes, value); }

}  // namespace corvel
