// The small interfaces the console's service commands act through: the service
// manager, child programs, message boxes, the server's stop event and pauses.
// The console gives real implementations; tests give fakes that record each step.
#pragma once

#include <string>
#include <vector>

#include "console/logic/ServiceState.h"

namespace corvel {

// The system's service manager, for the unit corvelftpservice only.
class ServiceManagerPort {
public:
    virtual ~ServiceManagerPort() = default;
    virtual ServiceState queryState() = 0;
    // Ask the manager to start or stop the unit and wait until the request ended. The
    // outcome is not returned: callers learn it by querying the state afterwards.
    virtual void startService() = 0;
    virtual void stopService() = 0;
};

// Starts programs as children of the console.
class ProgramRunnerPort {
public:
    virtual ~ProgramRunnerPort() = default;
    // Runs the program and waits until it ends. false when it could not be started or
    // did not end normally (killed by a signal, or stuck past the runner's bound);
    // its exit code is not looked at.
    virtual bool runAndWait(const std::string& program, const std::vector<std::string>& arguments) = 0;
    // Starts the program detached, so that it outlives the console. false when it
    // could not be started.
    virtual bool launch(const std::string& program, const std::vector<std::string>& arguments) = 0;
};

enum class MessageIcon { Information, Error };

// Modal message boxes owned by the main window.
class MessageBoxPort {
public:
    virtual ~MessageBoxPort() = default;
    virtual void show(const std::string& text, const std::string& title, MessageIcon icon) = 0;
    // A question with the buttons Yes and No; true only for Yes.
    virtual bool askYesNo(const std::string& text, const std::string& title) = 0;
};

// The stop event a background server watches, and the console's blocking pauses.
class ServerSignalPort {
public:
    virtual ~ServerSignalPort() = default;
    // Signals CORVELFTP_BASICSVRSTOP_EVENT when the console holds it; false otherwise.
    virtual bool signalStop() = 0;
    // Consumes a stop request that no server has taken (one made while none ran),
    // so that it cannot end the next server at its first loop turn.
    virtual void discardPendingStop() = 0;
    virtual void pause(int milliseconds) = 0;
};

}  // namespace corvel
