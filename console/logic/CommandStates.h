// Which service commands are enabled and checked, from the server-running flag and
// the service manager's answer; the same for menu bar, toolbar and tray menu.
#pragma once

#include "console/logic/ServiceState.h"

namespace corvel {

struct CommandStates {
    bool startEnabled = false;
    bool stopEnabled = false;
    bool serviceModeEnabled = false;
    bool serviceModeChecked = false;

    bool operator==(const CommandStates&) const = default;
};

// serviceModeWasChecked is the current check mark of NT Service Mode, kept when the
// service manager refuses to answer.
CommandStates commandStatesFor(bool serverRunning, ServiceState state, bool serviceModeWasChecked);

}  // namespace corvel
