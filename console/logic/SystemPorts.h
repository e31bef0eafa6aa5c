// The real service manager (systemd through systemctl) and program runner behind the
// console's service commands.
#pragma once

#include <string>
#include <vector>

#include "console/logic/ServiceControlPorts.h"
#include "platform/ServiceManager.h"

namespace corvel {

// The unit the server installs itself as.
inline constexpr char kServiceUnitName[] = "corvelftpservice.service";

// The unit is registered when its unit file exists; only then is systemctl asked.
// start and stop run "systemctl start|stop" and wait for the job, like the system's
// net command does. Owned by the UI thread.
class SystemServiceManager : public ServiceManagerPort {
public:
    SystemServiceManager();

    ServiceState queryState() override;
    void startService() override;
    void stopService() override;

    // A start or stop job that takes longer is given up on (the state query tells).
    static constexpr int kJobWaitMs = 120000;

private:
    ServiceManager manager_;
};

// runAndWait gives children up to kRunWaitMs; launch starts them detached (in a new
// session, no longer our child), so a background server outlives the console.
class SystemProgramRunner : public ProgramRunnerPort {
public:
    bool runAndWait(const std::string& program, const std::vector<std::string>& arguments) override;
    bool launch(const std::string& program, const std::vector<std::string>& arguments) override;

    // Process id of the last program launched, 0 when none was.
    long long lastLaunchedPid() const { return lastLaunchedPid_; }

    // Registering or removing the service runs systemctl a few times itself.
    static constexpr int kRunWaitMs = 120000;

private:
    long long lastLaunchedPid_ = 0;
};

}  // namespace corvel
