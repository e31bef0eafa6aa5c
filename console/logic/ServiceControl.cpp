#include "console/logic/ServiceControl.h"

#include <utility>

namespace corvel {

const char* serviceStateName(ServiceState state) {
    switch (state) {
    case ServiceState::Running: return "Running";
    case ServiceState::Stopped: return "Stopped";
    case ServiceState::Transitional: return "Transitional";
    case ServiceState::NotInstalled: return "NotInstalled";
    case ServiceState::AccessDenied: return "AccessDenied";
    }
    return "?";
}

ServiceControl::ServiceControl(std::string serverProgram, ServiceManagerPort& manager, ProgramRunnerPort& runner,
                               MessageBoxPort& boxes, ServerSignalPort& serverSignals)
    : serverProgram_(std::move(serverProgram)), manager_(manager), runner_(runner), boxes_(boxes), signals_(serverSignals) {}

ServiceState ServiceControl::queryServiceState() { return manager_.queryState(); }

void ServiceControl::startBackgroundServer() {
    signals_.discardPendingStop();
    // A server that cannot be launched is not reported: the panel shows it stopped.
    (void)runner_.launch(serverProgram_, {"/nontservice"});
}

void ServiceControl::startServiceChecked() {
    signals_.discardPendingStop();
    manager_.startService();
    if (queryServiceState() != ServiceState::Running)
        boxes_.show("Start service failed", "Start Service", MessageIcon::Error);
}

void ServiceControl::stopServiceChecked() {
    manager_.stopService();
    if (queryServiceState() != ServiceState::Stopped)
        boxes_.show("Stop service failed", "Stop Service", MessageIcon::Error);
}

void ServiceControl::startServer() {
    if (takesServicePath(queryServiceState()))
        startServiceChecked();
    else
        startBackgroundServer();
}

void ServiceControl::stopServer() {
    if (takesServicePath(queryServiceState()))
        stopServiceChecked();
    else
        (void)signals_.signalStop();
}

void ServiceControl::toggleServiceRegistration() {
    if (queryServiceState() == ServiceState::NotInstalled) {
        if (!runner_.runAndWait(serverProgram_, {"-i"})) {
            boxes_.show("Install service failed", "Install Service", MessageIcon::Error);
            return;
        }
        if (queryServiceState() == ServiceState::NotInstalled)
            boxes_.show("Register service to Windows System failed", "Register Service", MessageIcon::Error);
        else
            boxes_.show("Register service to Windows System successfully", "Register Service", MessageIcon::Information);
        return;
    }
    if (!runner_.runAndWait(serverProgram_, {"-u"})) {
        boxes_.show("Unregister service failed", "Unregister Service", MessageIcon::Error);
        return;
    }
    signals_.pause(kUnregisterSettleMs);
    if (queryServiceState() == ServiceState::NotInstalled)
        boxes_.show("Unregister service successfully", "Unregister Service", MessageIcon::Information);
    else
        boxes_.show("Unregister service failed", "Unregister Service", MessageIcon::Error);
}

std::optional<bool> ServiceControl::serviceModeCommand() {
    if (!rememberedMode_) rememberedMode_ = queryServiceState() != ServiceState::NotInstalled;
    const bool yes = *rememberedMode_ ? boxes_.askYesNo("Sure to unregister from NT Service??", "Unregister Service")
                                      : boxes_.askYesNo("Sure to register to NT Service?", "Register Service");
    if (!yes) return std::nullopt;
    rememberedMode_ = !*rememberedMode_;
    stopServer();
    toggleServiceRegistration();
    startServer();
    return *rememberedMode_;
}

void ServiceControl::restartServer() {
    if (takesServicePath(queryServiceState()))
        stopServiceChecked();
    else
        (void)signals_.signalStop();
    signals_.pause(kRestartPauseMs);
    if (takesServicePath(queryServiceState()))
        startServiceChecked();
    else
        startBackgroundServer();
}

}  // namespace corvel
