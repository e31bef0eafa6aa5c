// The service manager adapter: installs, removes, starts, stops and queries our
// systemd unit through the systemctl program.
#pragma once

#include <optional>
#include <string>

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

// What goes into the unit file.
struct UnitDescription {
    std::string description;  // Description=
    std::string executable;   // ExecStart=, run with no argument
    std::string user;         // User=; left out when empty (the service then runs as root)
};

// The unit file for a Type=notify service started at boot (multi-user.target).
// nullopt when a value holds a control character, which would end its line and
// smuggle further settings into the file.
std::optional<std::string> unitFileText(const UnitDescription& unit);

// Talks to systemd for one unit. Each call runs systemctl once or a few times and
// waits at most Settings::callTimeoutMs for each run. Owned by one thread.
class ServiceManager {
public:
    struct Settings {
        std::string systemctl;      // program run for every request
        std::string unitDirectory;  // where the unit file is written
        std::string unitName;       // "name.service"
        int callTimeoutMs = 60000;
    };

    // systemctl is $CORVELFTP_SYSTEMCTL when set, else "systemctl" (searched in PATH);
    // the directory is $CORVELFTP_UNIT_DIR when set, else /etc/systemd/system.
    static Settings settingsFromEnvironment(const std::string& unitName);

    explicit ServiceManager(Settings settings);

    const Settings& settings() const { return settings_; }
    std::string unitPath() const;

    // Whether systemctl can be run and a running systemd answers it.
    ServiceCallResult connect();
    // Whether our unit file exists.
    bool unitInstalled() const;
    // Writes the unit file atomically, reloads systemd and enables the unit. Fails,
    // leaving the existing file untouched, when the unit already exists; any later
    // failure takes the new file away again.
    ServiceCallResult installUnit(const UnitDescription& unit);
    // Disables the unit, deletes its file and reloads systemd.
    ServiceCallResult removeUnit();
    // Queue a start or stop job and return at once ("--no-block").
    ServiceCallResult requestStart();
    ServiceCallResult requestStop();
    UnitState state();
    // Whether a start or stop job of the unit is still waiting in systemd's queue.
    bool jobPending();

private:
    ServiceCallResult call(const std::string& verb, const std::string& option, std::string* output = nullptr);

    Settings settings_;
};

}  // namespace corvel
