#include "console/logic/CommandStates.h"

namespace corvel {

CommandStates commandStatesFor(bool serverRunning, ServiceState state, bool serviceModeWasChecked) {
    CommandStates states;
    states.startEnabled = !serverRunning;
    states.stopEnabled = serverRunning;
    if (state == ServiceState::AccessDenied) {
        states.serviceModeEnabled = false;
        states.serviceModeChecked = serviceModeWasChecked;
    } else {
        states.serviceModeEnabled = true;
        states.serviceModeChecked = isInstalled(state);
    }
    return states;
}

}  // namespace corvel
