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
bool running(UnitState state) { return state == UnitState::Active || state == UnitState::Reloading; }

// systemd's name for a failed run that waits out RestartSec= before the next try.
constexpr const char* kAwaitingRestart = "auto-restart";

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
    // Right after a "--no-block" request the job may still wait in the queue, with the
    // unit in its old state (running, or starting again after a failure).
    UnitStatus status = waitUntil([](const UnitStatus& now) {
        if (now.state == UnitState::Deactivating) return false;
        return !(now.jobPending && (running(now.state) || now.state == UnitState::Activating));
    });
    if (stopped(status.state)) {
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
    const UnitStatus before = manager_.status();
    // Start limits count failed starts; someone who asks again has mended something.
    if (before.state == UnitState::Failed) (void)manager_.resetFailed();
    ServiceCallResult requested = manager_.requestStart();
    if (!requested) {
        print("\n" + name + " failed to start: " + requested.errorText + "\n");
        return false;
    }
    UnitStatus status = waitUntil([&before](const UnitStatus& now) {
        if (running(now.state)) return true;
        // A run that failed and waits for its retry settles the start, unless it is the
        // failed run from before the request, whose retry the job waits for.
        if (now.subState == kAwaitingRestart) return now.invocationId != before.invocationId;
        if (stopped(now.state)) return !now.jobPending;  // else the job is still queued
        return now.state != UnitState::Activating && now.state != UnitState::Deactivating;
    });
    if (running(status.state)) {
        print("\n" + name + " started.\n");
        return true;
    }
    const std::string reason = startFailureReason(status);
    print("\n" + name + (reason.empty() ? " failed to start.\n" : " failed to start: " + reason + "\n"));
    return false;
}

std::string ServiceHost::startFailureReason(const UnitStatus& status) {
    // The server's own start-up failures carry this prefix, in the status it reports
    // and in its log line; the rest is the reason.
    const std::string ownPrefix = std::string(kServiceDisplayName) + " failed to start: ";
    auto withoutOwnPrefix = [&ownPrefix](std::string text) {
        if (text.compare(0, ownPrefix.size(), ownPrefix) == 0) text.erase(0, ownPrefix.size());
        return text;
    };
    if (status.statusText.compare(0, ownPrefix.size(), ownPrefix) == 0) return withoutOwnPrefix(status.statusText);
    // Otherwise the first error of the run: systemd's when the process never got going
    // (a missing program, a directory it cannot set up), else the server's.
    const std::vector<std::string> errors = manager_.errorsSinceStartRequest();
    if (!errors.empty()) return withoutOwnPrefix(errors.front());
    if (!status.mainProcessEnd.empty()) return "The process " + status.mainProcessEnd + ".";
    return {};
}

UnitStatus ServiceHost::waitUntil(const std::function<bool(const UnitStatus&)>& settled) {
    UnitStatus status = manager_.status();
    for (int polls = 0; !settled(status) && polls < timing_.maxPolls; ++polls) {
        print(".");
        std::this_thread::sleep_for(std::chrono::milliseconds(timing_.pollIntervalMs));
        status = manager_.status();
    }
    return status;
}

}  // namespace corvel
