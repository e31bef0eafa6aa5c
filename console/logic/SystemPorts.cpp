#include "console/logic/SystemPorts.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include "platform/Process.h"

namespace corvel {

SystemServiceManager::SystemServiceManager()
    : manager_(ServiceManager::settingsFromEnvironment(kServiceUnitName)) {}

ServiceState SystemServiceManager::queryState() {
    // Asked five times a second: no systemctl run at all while the unit is absent.
    if (!manager_.unitInstalled()) return ServiceState::NotInstalled;
    switch (manager_.status().state) {
    case UnitState::Active: return ServiceState::Running;
    case UnitState::Inactive:
    case UnitState::Failed: return ServiceState::Stopped;
    case UnitState::Reloading:
    case UnitState::Activating:
    case UnitState::Deactivating: return ServiceState::Transitional;
    case UnitState::Unknown: break;
    }
    // The unit file is there but systemd cannot tell its state (no systemd running).
    return ServiceState::NotInstalled;
}

void SystemServiceManager::startService() {
    const ServiceManager::Settings& settings = manager_.settings();
    (void)runProcess(settings.systemctl, {"start", settings.unitName}, kJobWaitMs);
}

void SystemServiceManager::stopService() {
    const ServiceManager::Settings& settings = manager_.settings();
    (void)runProcess(settings.systemctl, {"stop", settings.unitName}, kJobWaitMs);
}

bool SystemProgramRunner::runAndWait(const std::string& program, const std::vector<std::string>& arguments) {
    const ProcessResult result = runProcess(program, arguments, kRunWaitMs);
    return result.outcome == ProcessOutcome::Exited;
}

bool SystemProgramRunner::launch(const std::string& program, const std::vector<std::string>& arguments) {
    QStringList list;
    for (const std::string& argument : arguments) list << QString::fromStdString(argument);
    qint64 pid = 0;
    if (!QProcess::startDetached(QString::fromStdString(program), list, QString(), &pid)) return false;
    lastLaunchedPid_ = pid;
    return true;
}

}  // namespace corvel
