#include "service/ServiceHost.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "common/ProgramDirectory.h"
#include "platform/Process.h"
#include "platform/SystemLog.h"

namespace corvel {
namespace {

void printToStandardOutput(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

bool stopped(UnitState state) { return state == UnitState::Inactive || state == UnitState::Failed; }

// Each home as written and, when it differs, with its symbolic links resolved: the
// server opens the written path, and systemd's protection acts where it leads.
std::vector<std::string> homesAsWrittenAndResolved(const std::vector<std::string>& homes) {
    std::vector<std::string> paths;
    for (const std::string& home : homes) {
        paths.push_back(home);
        if (home.empty() || home.front() != '/') continue;  // no place of its own to resolve
        std::error_code error;
        std::filesystem::path resolved = std::filesystem::weakly_canonical(home, error);
        if (!error && resolved.string() != home) paths.push_back(resolved.string());
    }
    return paths;
}

}  // namespace

ServiceHost::ServiceHost(ServiceManager& manager, Printer print, ServicePollTiming timing)
    : manager_(manager), print_(print ? std::move(print) : Printer(printToStandardOutput)), timing_(timing) {}

bool ServiceHost::openManagerAndService() {
    ServiceCallResult connected = manager_.connect();
    if (!connected) {
        print("OpenSCManager failed - " + connected.errorText + "\n");
        return false;
    }
    if (!manager_.unitInstalled()) {
        print("OpenService failed - The specified service does not exist as an installed service.\n");
        return false;
    }
    return true;
}

bool ServiceHost::install(const std::optional<std::string>& account, const std::vector<std::string>& homes) {
    const std::string name = kServiceDisplayName;
    std::string error;
    std::optional<std::string> executable = currentExecutablePath(&error);
    if (!executable) {
        print("Unable to install " + name + " - " + error + "\n");
        return false;
    }
    ServiceCallResult connected = manager_.connect();
    if (!connected) {
        print("OpenSCManager failed - " + connected.errorText + "\n");
        return false;
    }
    UnitDescription unit;
    unit.description = name;
    unit.executable = *executable;
    unit.user = account.value_or("");
    unit.group = kServiceGroupName;
    unit.runtimeDirectory = kServiceRuntimeDirectory;
    unit.programDirectory = directoryOfPath(*executable);
    unit.homeDirectories = homesAsWrittenAndResolved(homes);
    ServiceCallResult created = manager_.installUnit(unit);
    if (!created) {
        print("CreateService failed - " + created.errorText + "\n");
        return false;
    }
    print(name + " installed.\n");
    writeSystemLog(LogSeverity::Information, "Service installed");
    return true;
}

bool ServiceHost::remove() {
    if (!openManagerAndService()) return false;
    stopAndWait();
    ServiceCallResult removed = manager_.removeUnit();
    if (!removed) {
        print("DeleteService failed - " + removed.errorText + "\n");
        return false;
    }
    print(std::string(kServiceDisplayName) + " removed.\n");
    return true;
}

bool ServiceHost::endService() { return openManagerAndService() && stopAndWait(); }

bool ServiceHost::stopAndWait() {
    const std::string name = kServiceDisplayName;
    print("Stopping " + name + ".");
    ServiceCallResult requested = manager_.requestStop();
    if (!requested) {
        print("\n" + name + " failed to stop: " + requested.errorText + "\n");
        return false;
    }
    UnitState state = waitWhilePending(UnitState::Deactivating, UnitState::Active, UnitState::Reloading);
    if (stopped(state)) {
        print("\n" + name + " stopped.\n");
        return true;
    }
    print("\n" + name + " failed to stop.\n");
    return false;
}

bool ServiceHost::startService() {
    const std::string name = kServiceDisplayName;
    if (!openManagerAndService()) return false;
    print("Starting up " + name + ".");
    ServiceCallResult requested = manager_.requestStart();
    if (!requested) {
        print("\n" + name + " failed to start: " + requested.errorText + "\n");
        return false;
    }
    UnitState state = waitWhilePending(UnitState::Activating, UnitState::Inactive, UnitState::Failed);
    if (state == UnitState::Active || state == UnitState::Reloading) {
        print("\n" + name + " started.\n");
        return true;
    }
    print("\n" + name + " failed to start.\n");
    return false;
}

UnitState ServiceHost::waitWhilePending(UnitState transitional, UnitState before, UnitState alsoBefore) {
    // Right after a "--no-block" request the job may still wait in the queue, with
    // the unit in its old state; that counts as pending too.
    auto pending = [&](UnitState state) {
        if (state == transitional) return true;
        return (state == before || state == alsoBefore) && manager_.jobPending();
    };
    UnitState state = manager_.state();
    for (int polls = 0; pending(state) && polls < timing_.maxPolls; ++polls) {
        print(".");
        std::this_thread::sleep_for(std::chrono::milliseconds(timing_.pollIntervalMs));
        state = manager_.state();
    }
    return state;
}

}  // namespace corvel
