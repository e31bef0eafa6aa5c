// One download among those this process is sending at the moment. Once they
// outnumber the CPUs, the receivers cannot all run at once: a socket that queued
// megabytes unsent then sent them in bursts that outran the acknowledgements, and
// the spurious tail-loss probes that followed halved the aggregate of 64 downloads.
// A send that joins a crowd keeps its unsent bytes short instead. A lone download
// keeps the kernel's defaults: the same limit made a reader of 8 KiB at a time
// (wget) half as fast.
#pragma once

#include <atomic>
#include <optional>

#include "common/LiveCount.h"

namespace corvel {

class Socket;

// Bytes a crowded send leaves unsent in its socket: with 512 KiB the 64 downloads won
// a quarter of what 128 KiB won, with 1 MiB nothing.
constexpr int kCrowdedUnsentBytes = 128 << 10;

class CrowdedSend {
public:
    // Counts the send in count (none when null) for as long as this object lives,
    // and limits the socket's unsent bytes when the sends already counted are at
    // least as many as the CPUs. A socket with a layer (TLS) is left as it is.
    CrowdedSend(std::atomic<int>* count, Socket& socket);
    // Gives a limited socket the kernel's default back: a kept-alive web connection
    // may send its next download alone.
    ~CrowdedSend();
    CrowdedSend(const CrowdedSend&) = delete;
    CrowdedSend& operator=(const CrowdedSend&) = delete;

    bool limited() const { return limited_; }

private:
    Socket& socket_;
    std::optional<LiveCount> place_;
    bool limited_ = false;
};

// The CPUs this process may run on, at least 1; read once.
int usableCpuCount();

}  // namespace corvel
