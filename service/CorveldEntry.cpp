#include "service/CorveldEntry.h"

#include <string>
#include <vector>

#include "accounts/AccessPolicy.h"
#include "accounts/UserTable.h"
#include "common/ProgramDirectory.h"
#include "platform/ServiceManager.h"
#include "platform/Thread.h"
#include "server/FtpServer.h"
#include "service/CommandLine.h"
#include "service/RunModes.h"
#include "service/ServiceHost.h"

namespace corvel {

int runCorveld(int argc, char** argv) {
    const std::string directory = programDirectory();
    // Loaded in every mode, so even the service actions create the default files.
    UserTable users(directory);
    users.load();
    AccessPolicy policy(directory);
    policy.load();

    FtpServer server(directory, users, policy);
    const CommandLine command = parseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
    ServiceManager manager(ServiceManager::settingsFromEnvironment(std::string(kServiceName) + ".service"));
    ServiceHost host(manager);
    switch (command.action) {
        case CommandAction::Plain:
            installStopSignals(false);
            server.run(RunMode::Plain);
            break;
        case CommandAction::NoAction: runAsService(server); break;
        case CommandAction::DebugConsole: runInTerminal(server); break;
        case CommandAction::Faceless: runDetached(server); break;
        case CommandAction::Install: (void)host.install(command.account); break;
        case CommandAction::Remove: (void)host.remove(); break;
        case CommandAction::Start: (void)host.startService(); break;
        case CommandAction::Stop: (void)host.endService(); break;
    }
    return 0;
}

}  // namespace corvel
