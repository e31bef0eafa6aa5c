// A copy of the server's status block, as the console reads it once per status tick
// and corvelctl reads it for its status command.
#pragma once

#include <cstdint>
#include <string>

namespace corvel {

struct StatusSnapshot {
    bool available = false;  // the status block existed and was mapped on the last read
    bool copied = false;     // its bytes were copied under its mutex (else the fields are zero)
    std::string bindAddress;  // empty: the server listens on every address
    std::uint16_t ftpPort = 0;
    std::uint16_t webPort = 0;
    std::uint16_t maxConnections = 0;
    std::int32_t currentConnections = 0;
    std::uint32_t startTime = 0;  // seconds since 1970 UTC

    // The green "busy" view: available with connections open (taken as unsigned).
    bool active() const { return available && std::uint32_t(currentConnections) > 0; }
};

// Reads CORVELFTP_STATUS: opens (or creates) its mutex, opens the block, waits up to
// mutexWaitMs for the mutex and copies the 32 bytes. No block: not available. A wait
// that times out or finds the mutex abandoned gives an available, all-zero snapshot.
// Nothing stays open after the call. Blocks the caller for up to mutexWaitMs.
StatusSnapshot readStatus(int mutexWaitMs);

}  // namespace corvel
