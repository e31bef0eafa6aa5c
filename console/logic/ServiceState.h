// The service manager's view of the corvelftpservice unit, as the console's service
// commands decide by it.
#pragma once

namespace corvel {

enum class ServiceState {
    Running,       // the unit exists and runs
    Stopped,       // the unit exists and is stopped
    Transitional,  // the unit exists in any other state (starting, stopping, ...)
    NotInstalled,  // the unit does not exist, or its state could not be read
    AccessDenied,  // the service manager refused to answer us
};

// Running, Stopped or Transitional: the unit is registered.
constexpr bool isInstalled(ServiceState state) {
    return state == ServiceState::Running || state == ServiceState::Stopped || state == ServiceState::Transitional;
}

// The console uses the service manager when the unit is registered, and also when it
// may not ask (then it assumes the unit exists); otherwise it runs a background server.
constexpr bool takesServicePath(ServiceState state) {
    return isInstalled(state) || state == ServiceState::AccessDenied;
}

const char* serviceStateName(ServiceState state);

}  // namespace corvel
