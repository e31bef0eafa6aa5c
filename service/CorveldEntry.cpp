#include "service/CorveldEntry.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "common/XmlFiles.h"
#include "platform/AtomicFile.h"
#include "platform/ServiceManager.h"
#include "platform/Thread.h"
#include "server/FtpServer.h"
#include "server/ProcessContext.h"
#include "service/CommandLine.h"
#include "service/RunModes.h"
#include "service/ServiceHost.h"

namespace corvel {

int runCorveld(int argc, char** argv) {
    const CommandLine command = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    // The tables outlive this function: connection threads are never joined.
    auto process = std::make_shared<ProcessContext>(programDirectory());
    // In the terminal the log is shown too, from the first line on.
    process->log.mirrorToStandardError(command.action == CommandAction::DebugConsole);
    // A save that was killed half-way leaves its temporary file; nobody will finish it.
    for (const char* name : {kSettingsFileName, kUsersFileName, kAccessFileName})
        (void)removeStaleTemporaries(process->programDirectory + name);
    // Loaded in every mode, so even the service actions create the default files.
    process->users.load();
    process->policy.load();

    FtpServer server(process);
    ServiceManager manager(ServiceManager::settingsFromEnvironment(std::string(kServiceName) + ".service"));
    ServiceHost host(manager);
    int status = 0;
    switch (command.action) {
        case CommandAction::Plain:
            installStopSignals(false);
            server.run(RunMode::Plain);
            break;
        case CommandAction::NoAction:
            // Only a service that systemd started and that failed exits non-zero, so
            // systemd shows it as failed; every other mode exits 0.
            if (!runAsService(server)) status = 1;
            break;
        case CommandAction::DebugConsole: runInTerminal(server); break;
        case CommandAction::Faceless: runDetached(server); break;
        case CommandAction::Install: {
            std::vector<std::string> homes;
            for (const UserAccount& account : process->users.accounts()) homes.push_back(account.workDir);
            (void)host.install(command.account, homes);
            break;
        }
        case CommandAction::Remove: (void)host.remove(); break;
        case CommandAction::Start: (void)host.startService(); break;
        case CommandAction::Stop: (void)host.endService(); break;
    }
    return status;
}

}  // namespace corvel
