// Byte layouts of the status and control blocks shared by server and console.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvel {

// Server mutex waits on either block are bounded by this (milliseconds).
constexpr int kBlockMutexWaitMs = 5000;

// ControlBlock: one little-endian 32-bit word of request bits.
constexpr std::size_t kControlBlockSize = 4;
constexpr std::uint32_t ReloadUsers = 0x2;
constexpr std::uint32_t ReloadAccess = 0x4;
// The extensions' requests, well above the designed bits: a bit the server does not
// know stays set for whoever set it.
constexpr std::uint32_t ReloadLog = 0x100;  // open the transfer log (<xferlog>) again
constexpr std::uint32_t ReloadTls = 0x200;  // load the certificate and key files again
// The server's answer to ReloadTls, set as it clears that bit: the new pair serves
// new connections, or it was refused (the reason is in the system log).
constexpr std::uint32_t TlsReloaded = 0x400;
constexpr std::uint32_t TlsReloadRefused = 0x800;
// Fill the sessions block (common/SessionsBlock.h); answered with SessionsPublished.
constexpr std::uint32_t PublishSessions = 0x1000;
constexpr std::uint32_t SessionsPublished = 0x2000;
// Close the sessions the sessions block names; answered with SessionsKicked.
constexpr std::uint32_t KickSessions = 0x4000;
constexpr std::uint32_t SessionsKicked = 0x8000;

// StatusBlock: 32 little-endian bytes.
constexpr std::size_t kStatusBlockSize = 32;
constexpr std::size_t kStatusAddressBytes = 16;  // NUL-terminated listen address

struct StatusBlock {
    std::string listenAddress;  // at most 15 characters are published
    std::uint16_t ftpPort = 0;
    std::uint16_t webPort = 0;
    std::uint16_t connectionLimit = 0;  // low 16 bits of maxconn
    std::int32_t activeConnections = 0;
    std::int32_t startTime = 0;  // seconds since 1970 UTC

    void encode(std::uint8_t* bytes) const;  // writes all but bytes 22 and 23
    static StatusBlock decode(const std::uint8_t* bytes);
};

std::uint32_t readControlWord(const std::uint8_t* bytes);
void writeControlWord(std::uint8_t* bytes, std::uint32_t value);

}  // namespace corvel
