// The command-line service actions of corveld (install, remove, start, stop of the
// systemd unit) with the messages people see while they run.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ServiceManager.h"

namespace corvel {

constexpr const char* kServiceName = "corvelftpservice";
constexpr const char* kServiceDisplayName = "CorvelFtp Service";
// The administrators' group: the unit runs with it, and its members may use the
// console and the command-line tool against the service.
constexpr const char* kServiceGroupName = "corvelftp";
// The unit's directory below /run, where the server and the console meet through
// the named objects.
constexpr const char* kServiceRuntimeDirectory = "corvelftp";

// How the service actions wait for a start or stop job.
struct ServicePollTiming {
    int pollIntervalMs = 1000;  // pause between two state queries while a job runs
    int maxPolls = 60;          // queries before we stop waiting for a job
};

// Owned by one thread. Every failure prints its message and makes the action return
// false; the process exits 0 whatever happened, and callers (the console) ask the
// service manager afterwards.
class ServiceHost {
public:
    // Receives every message text; the default writes it to standard output at once.
    using Printer = std::function<void(const std::string&)>;

    ServiceHost(ServiceManager& manager, Printer print = {}, ServicePollTiming timing = {});

    // Creates the group kServiceGroupName when missing, then writes and enables the
    // unit that runs this executable (as account when given). homes are the accounts'
    // home directories as the users file has them; the unit leaves them, and the
    // program directory, open to the service.
    bool install(const std::optional<std::string>& account, const std::vector<std::string>& homes = {});
    // Stops the service when it runs, then disables and deletes its unit.
    bool remove();
    // Starts the installed service and waits until it runs; true when it does. A start
    // that fails (systemd may try again later) is told at once, with its reason when
    // the service or systemd left one. A failed unit is reset first, so an explicit
    // start is never held back by the start limit of earlier failures.
    bool startService();
    // Stops the installed service and waits until it has stopped.
    bool endService();

private:
    bool openManagerAndService();
    bool stopAndWait();
    // Queries until settled says the unit got where it was going; prints a dot per query
    // that finds it still on its way. Bounded by ServicePollTiming::maxPolls.
    UnitStatus waitUntil(const std::function<bool(const UnitStatus&)>& settled);
    // Why the start that ended in status failed, for people; empty when nobody said.
    std::string startFailureReason(const UnitStatus& status);
    void print(const std::string& text) { print_(text); }

    ServiceManager& manager_;
    Printer print_;
    ServicePollTiming timing_;
};

}  // namespace corvel
