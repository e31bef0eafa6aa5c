// How many web connections the process may hold at once so that the FTP side
// always keeps the descriptors and threads of maxconn sessions in reserve.
#pragma once

#include <cstdint>

namespace corvel {

// Descriptors one FTP session may hold at once: control, data, passive listener, file.
constexpr std::uint64_t kDescriptorsPerFtpSession = 4;
// Descriptors of one web connection: its socket and the file it sends.
constexpr std::uint64_t kDescriptorsPerWebConnection = 2;
// Descriptors the process holds besides its connections (listeners, named objects,
// the log, the spare descriptor of the listeners, standard streams).
constexpr std::uint64_t kBaseDescriptors = 64;
// Threads kept besides the connection threads (listener, library helpers).
constexpr std::uint64_t kBaseThreads = 16;
// Web connections served even when the limits leave less (then said so in the log).
constexpr std::uint32_t kMinimumWebConnections = 8;

struct WebConnectionLimit {
    std::uint32_t limit = 0;
    bool reduced = false;  // the limits left less than configured
};

// configured: <maxwebconn>; maxFtpSessions: maxconn + 1 (the sessions that may run at
// once); descriptorLimit and taskLimit: the process's soft limits, 0 for none.
WebConnectionLimit webConnectionLimit(std::uint32_t configured, std::uint64_t maxFtpSessions,
                                      std::uint64_t descriptorLimit, std::uint64_t taskLimit);

}  // namespace corvel
