// The service manager adapter: installs, removes, starts, stops and queries our
// systemd unit through the systemctl program.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvel {

// The unit's state as "systemctl is-active" names it.
enum class UnitState { Active, Reloading, Inactive, Failed, Activating, Deactivating, Unknown };

// Success, or a failure with a text for people (systemctl's own complaint, or the
// system's text for a file or exec error).
struct ServiceCallResult {
    bool ok = true;
    std::string errorText;

    static ServiceCallResult success() { return {}; }
    static ServiceCallResult failure(std::string text) { return {false, std::move(text)}; }
    explicit operator bool() const { return ok; }
};

// The unit as "systemctl show" tells it at one moment.
struct UnitStatus {
    UnitState state = UnitState::Unknown;  // ActiveState
    // SubState; "auto-restart" while a failed run waits out RestartSec= before its retry.
    std::string subState;
    // InvocationID: new for every run, each automatic restart included.
    std::string invocationId;
    bool jobPending = false;  // a start or stop job of the unit still waits in systemd's queue
    // StatusText: what the service last reported with STATUS=; systemd clears it at each start.
    std::string statusText;
    // How the last main process ended, for people ("exited with status 1", "was ended by
    // signal 31 (Bad system call)"); empty when it has not ended or ended with status 0.
    std::string mainProcessEnd;
};

// What goes into the unit file.
struct UnitDescription {
    std::string description;       // Description=
    std::string executable;        // ExecStart=, run with no argument
    std::string user;              // User=; left out when empty (the service then runs as root)
    std::string group;             // Group=, created by installUnit when missing; left out when empty
    std::string runtimeDirectory;  // RuntimeDirectory= below /run; left out when empty
    // Where the service reads and writes files: its program directory and the home
    // of every account (absolute; a home may be listed as written and as resolved).
    // They decide which parts of the file system protection must leave open.
    std::string programDirectory;
    std::vector<std::string> homeDirectories;
};

// The unit file for a Type=notify service started at boot (multi-user.target) once
// the network is up, restarted a few seconds after it fails (at most five times a
// minute), confined to what the server does: file system protection (ProtectSystem=full,
// ReadWritePaths= for the data paths below /usr, /etc and /boot; ProtectHome= and
// PrivateTmp= only when no data path needs what they hide), no devices, kernel
// settings, namespaces or address families beyond local and IP sockets, and the system
// calls of an ordinary service. As root it keeps the capabilities of serving other
// accounts' files; with a user it may still bind ports below 1024
// (CAP_NET_BIND_SERVICE) and nothing else. nullopt when a value holds a control
// character, which would end its line and smuggle further settings into the file.
std::optional<std::string> unitFileText(const UnitDescription& unit);

// Talks to systemd for one unit. Each call runs systemctl once or a few times and
// waits at most Settings::callTimeoutMs for each run. Owned by one thread.
class ServiceManager {
public:
    struct Settings {
        std::string systemctl;      // program run for every request
        std::string groupadd;       // program that creates a missing UnitDescription::group
        std::string journalctl;     // program that reads the unit's journal
        std::string unitDirectory;  // where the unit file is written
        std::string unitName;       // "name.service"
        int callTimeoutMs = 60000;
    };

    // systemctl is $CORVELFTP_SYSTEMCTL when set, else "systemctl" (searched in PATH);
    // groupadd is $CORVELFTP_GROUPADD when set, else /usr/sbin/groupadd (a "su"
    // without "-" leaves /usr/sbin out of PATH), else "groupadd" searched in PATH;
    // journalctl is $CORVELFTP_JOURNALCTL when set, else "journalctl"; the directory is
    // $CORVELFTP_UNIT_DIR when set, else /etc/systemd/system.
    static Settings settingsFromEnvironment(const std::string& unitName);

    explicit ServiceManager(Settings settings);

    const Settings& settings() const { return settings_; }
    std::string unitPath() const;

    // Whether systemctl can be run and a running systemd answers it.
    ServiceCallResult connect();
    // Whether our unit file exists.
    bool unitInstalled() const;
    // Creates the unit's group when the system has none of that name (a system group,
    // through groupadd), writes the unit file atomically, reloads systemd and enables
    // the unit. Fails, leaving the existing file untouched, when the unit already
    // exists, and writes nothing when the group cannot be created; any failure after
    // the write takes the new file away again. A group it created stays.
    ServiceCallResult installUnit(const UnitDescription& unit);
    // Disables the unit, deletes its file and reloads systemd.
    ServiceCallResult removeUnit();
    // Queue a start or stop job and return at once ("--no-block"). requestStart
    // remembers when it asked, for errorsSinceStartRequest.
    ServiceCallResult requestStart();
    ServiceCallResult requestStop();
    // Forgets a failed state and the start limit's count of failed starts.
    ServiceCallResult resetFailed();
    // The unit's state; state Unknown when systemctl cannot tell it.
    UnitStatus status();
    // The messages of priority "err" and above that the journal holds for the unit since
    // the last requestStart, oldest first: the service's own and systemd's about it,
    // without the "UNIT: " systemd puts before its own and without its closing "Failed
    // to start UNIT" line, which tells nothing more. Empty when the journal cannot be read.
    std::vector<std::string> errorsSinceStartRequest();

private:
    ServiceCallResult call(const std::string& verb, const std::string& option, std::string* output = nullptr);
    ServiceCallResult ensureGroup(const std::string& group);

    Settings settings_;
    std::string startRequestedAt_;  // journalctl's "--since=" for the last requestStart
};

}  // namespace corvel
