#include "service/CorveldEntry.h"

#include <string>

#include "accounts/AccessPolicy.h"
#include "accounts/UserTable.h"
#include "common/ProgramDirectory.h"
#include "platform/Thread.h"
#include "server/FtpServer.h"

namespace corvel {

int runCorveld(int argc, char** argv) {
    const std::string directory = programDirectory();
    // Loaded in every mode, so even the service actions create the default files.
    UserTable users(directory);
    users.load();
    AccessPolicy policy(directory);
    policy.load();

    FtpServer server(directory, users, policy);
    if (argc == 2 && std::string(argv[1]) == "/nontservice") {
        installStopSignals(false);
        server.run(RunMode::Plain);
    }
    return 0;
}

}  // namespace corvel
