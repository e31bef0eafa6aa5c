// The console's service commands: start, stop, register or remove the service and
// switch between the service and a background server, with their message boxes.
#pragma once

#include <optional>
#include <string>

#include "console/logic/ServiceControlPorts.h"

namespace corvel {

// Owned by the UI thread; every operation blocks it while children run and pauses
// last. The ports are borrowed and must outlive this object.
class ServiceControl {
public:
    // serverProgram is the full path of corveld (program directory + "corveld").
    ServiceControl(std::string serverProgram, ServiceManagerPort& manager, ProgramRunnerPort& runner,
                   MessageBoxPort& boxes, ServerSignalPort& serverSignals);

    ServiceState queryServiceState();
    void startServer();
    void stopServer();
    void toggleServiceRegistration();
    // Asks whether to switch modes and, on Yes, switches. Returns the check mark the
    // NT Service Mode command gets now, or nullopt when the answer was No (leave it).
    std::optional<bool> serviceModeCommand();
    void restartServer();

    // Pause before querying a removed unit, and between stop and start of a restart.
    static constexpr int kUnregisterSettleMs = 500;
    static constexpr int kRestartPauseMs = 1000;

private:
    void startBackgroundServer();
    void startServiceChecked();
    void stopServiceChecked();

    std::string serverProgram_;
    ServiceManagerPort& manager_;
    ProgramRunnerPort& runner_;
    MessageBoxPort& boxes_;
    ServerSignalPort& signals_;
    // Set on the first NT Service Mode command and only flipped after that.
    std::optional<bool> rememberedMode_;
};

}  // namespace corvel
