// The three named events the console uses on every tick: the server's heartbeat,
// the server's stop request and the raise request of a second console.
#pragma once

#include <optional>

#include "console/logic/ServiceControlPorts.h"
#include "platform/NamedObjects.h"

namespace corvel {

// Opens or creates the events at construction and holds them for its life. An event
// that could not be opened counts as never signalled and cannot be signalled.
// Owned by the UI thread.
class ConsoleEvents : public ServerSignalPort {
public:
    ConsoleEvents();

    // Consumes the server's heartbeat: true when a server signalled since the last call.
    bool serverSignalled();
    // Consumes a raise request from a second console.
    bool raiseRequested();

    bool signalStop() override;
    void discardPendingStop() override;
    void pause(int milliseconds) override;

    // The heartbeat and raise waits; the server beats about six times a second.
    static constexpr int kProbeWaitMs = 1;

private:
    std::optional<NamedEvent> existence_;
    std::optional<NamedEvent> stop_;
    std::optional<NamedEvent> pop_;
};

}  // namespace corvel
