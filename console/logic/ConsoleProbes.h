// What the status tick reads from outside the console: the server's heartbeat, a
// second console's raise request, the status block, the local host and the clock.
#pragma once

#include <cstdint>

#include "admin/StatusSnapshot.h"
#include "console/logic/ConsoleEvents.h"
#include "platform/HostName.h"

namespace corvel {

class ConsoleProbePort {
public:
    virtual ~ConsoleProbePort() = default;
    virtual bool serverSignalled() = 0;
    virtual bool raiseRequested() = 0;
    virtual StatusSnapshot readStatus() = 0;
    virtual LocalHost localHost() = 0;
    virtual std::uint32_t now() = 0;  // seconds since 1970 UTC
};

// The real probes over the console's named events and the status block.
class SystemConsoleProbes : public ConsoleProbePort {
public:
    explicit SystemConsoleProbes(ConsoleEvents& events) : events_(events) {}

    bool serverSignalled() override { return events_.serverSignalled(); }
    bool raiseRequested() override { return events_.raiseRequested(); }
    StatusSnapshot readStatus() override;
    LocalHost localHost() override { return lookUpLocalHost(); }
    std::uint32_t now() override;

private:
    ConsoleEvents& events_;
};

}  // namespace corvel
