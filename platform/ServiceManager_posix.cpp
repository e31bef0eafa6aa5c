#include "platform/ServiceManager.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <grp.h>
#include <initializer_list>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/Process.h"

namespace corvel {
namespace {

// LimitNOFILE= of the unit. The server derives its web-connection limit from its
// descriptor limit so that FTP sessions up to maxconn always keep their reserve;
// this leaves ample room for both.
constexpr const char* kUnitOpenFilesLimit = "65536";

// RestartSec= and the start limit: a service that fails is started again after this
// pause, and systemd gives up once it failed this many starts within the interval, so
// a lasting fault (a port someone else holds) ends in "failed" within half a minute
// instead of restarting for ever, while a passing one (an address not up yet) heals.
constexpr const char* kUnitRestartPause = "5s";
constexpr const char* kUnitStartLimitSeconds = "60";
constexpr const char* kUnitStartLimitBurst = "5";

// What a root service may still do with its capabilities, each for a feature: bind
// ports below 1024; read and write homes, files and certificate keys that belong to
// other accounts (DAC_OVERRIDE, DAC_READ_SEARCH); give a rewritten XML file its old
// group (CHOWN); set the modification time and mode of a file it does not own (FOWNER).
// Whatever comes later and needs more (PAM's account switching) adds its own here.
constexpr const char* kRootCapabilities =
    "CAP_NET_BIND_SERVICE CAP_DAC_OVERRIDE CAP_DAC_READ_SEARCH CAP_CHOWN CAP_FOWNER";

// Buffer for one group entry of getgrnam_r (its member list makes it long): it starts
// at the first size and doubles while too small, up to the largest.
constexpr std::size_t kFirstGroupEntryBytes = 16 * 1024;
constexpr std::size_t kMaxGroupEntryBytes = 1 << 20;

// groupadd's exit status for a name already in use: someone created it meanwhile.
constexpr int kGroupaddNameInUse = 9;

std::string firstLine(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) return {};
    std::size_t end = text.find_first_of("\r\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// ExecStart= splits on blanks, unquotes, and expands '%' specifiers and '$' variables.
std::string execStartWord(const std::string& path) {
    std::string word;
    bool quote = false;
    for (char c : path) {
        if (c == '%') {
            word += "%%";
        } else if (c == '$') {
            word += "$$";
        } else if (c == '\\' || c == '"') {
            word += '\\';
            word += c;
            quote = true;
        } else {
            if (c == ' ' || c == '\t' || c == '\'') quote = true;
            word += c;
        }
    }
    return quote ? "\"" + word + "\"" : word;
}

// One ReadWritePaths= word: '-' so a missing directory does not fail the start,
// '%' doubled (specifiers are expanded); a word with blanks, quotes or backslashes
// goes in double quotes with '"' and '\' escaped, as systemd splits the list on
// blanks and unquotes each word.
std::string readWritePathWord(const std::string& path) {
    std::string word = "-";
    bool quote = false;
    for (char c : path) {
        if (c == '%') {
            word += "%%";
        } else if (c == '\\' || c == '"') {
            word += '\\';
            word += c;
            quote = true;
        } else {
            if (c == ' ' || c == '\t' || c == '\'') quote = true;
            word += c;
        }
    }
    return quote ? "\"" + word + "\"" : word;
}

// A path as the protection settings see it: lexically normal, no trailing '/'.
std::string normalPath(const std::string& path) {
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal;
}

// Whether path is base or lies below it (both normal).
bool within(const std::string& path, const std::string& base) {
    if (base == "/") return true;
    return path.compare(0, base.size(), base) == 0 && (path.size() == base.size() || path[base.size()] == '/');
}

// Whether a setting that hides or freezes base reaches path: path lies below base,
// or path holds base (an account whose home is "/" browses into /home too).
bool reaches(const std::string& base, const std::string& path) { return within(path, base) || within(base, path); }

bool anyReaches(const std::vector<std::string>& paths, std::initializer_list<const char*> bases) {
    for (const std::string& path : paths)
        for (const char* base : bases)
            if (reaches(base, path)) return true;
    return false;
}

// The program directory and the homes, absolute, normal, each once. A relative
// home names no place the unit could open; the server sees it from "/" anyway.
std::vector<std::string> dataPaths(const UnitDescription& unit) {
    std::vector<std::string> paths;
    auto add = [&paths](const std::string& path) {
        if (path.empty() || path.front() != '/') return;
        std::string normal = normalPath(path);
        for (const std::string& known : paths)
            if (known == normal) return;
        paths.push_back(normal);
    };
    add(unit.programDirectory);
    for (const std::string& home : unit.homeDirectories) add(home);
    return paths;
}

UnitState parseState(const std::string& word) {
    if (word == "active") return UnitState::Active;
    if (word == "reloading") return UnitState::Reloading;
    if (word == "inactive") return UnitState::Inactive;
    if (word == "failed") return UnitState::Failed;
    if (word == "activating") return UnitState::Activating;
    if (word == "deactivating") return UnitState::Deactivating;
    return UnitState::Unknown;
}

// How a run of a helper program (what) went, for people: its own complaint when it
// failed, else what happened to it.
ServiceCallResult describeRun(const ProcessResult& run, const std::string& what, int timeoutMs) {
    switch (run.outcome) {
        case ProcessOutcome::StartFailed:
            return ServiceCallResult::failure(run.failure);
        case ProcessOutcome::TimedOut:
            return ServiceCallResult::failure(what + " did not answer within " + std::to_string(timeoutMs / 1000) +
                                              " seconds.");
        case ProcessOutcome::Signalled:
            return ServiceCallResult::failure(what + " was ended by signal " + std::to_string(run.signal) + ".");
        case ProcessOutcome::Exited:
            break;
    }
    if (run.exitStatus == 0) return ServiceCallResult::success();
    std::string text = firstLine(run.errorOutput);
    if (text.empty()) text = what + " failed with status " + std::to_string(run.exitStatus) + ".";
    return ServiceCallResult::failure(text);
}

// Whether the system knows a group of that name; an error reading the group
// database counts as "no" and lets groupadd say what is wrong.
bool groupExists(const std::string& name) {
    std::vector<char> buffer(kFirstGroupEntryBytes);
    for (;;) {
        struct group entry {};
        struct group* found = nullptr;
        int error = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < kMaxGroupEntryBytes) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        return error == 0 && found != nullptr;
    }
}

}  // namespace

std::optional<std::string> unitFileText(const UnitDescription& unit) {
    // SECURITY: a line break in any value would add settings of the caller's choice.
    for (const std::string* value : {&unit.description, &unit.executable, &unit.user, &unit.group,
                                     &unit.runtimeDirectory, &unit.programDirectory})
        if (hasControlCharacter(*value)) return std::nullopt;
    for (const std::string& home : unit.homeDirectories)
        if (hasControlCharacter(home)) return std::nullopt;
    const std::vector<std::string> paths = dataPaths(unit);

    std::string text = "[Unit]\nDescription=" + unit.description +
                       "\nWants=network-online.target\nAfter=network-online.target\n"
                       "StartLimitIntervalSec=" + kUnitStartLimitSeconds +
                       "\nStartLimitBurst=" + kUnitStartLimitBurst + "\n\n"
                       "[Service]\nType=notify\nExecStart=" + execStartWord(unit.executable) +
                       "\nRestart=on-failure\nRestartSec=" + kUnitRestartPause + "\n";
    if (!unit.user.empty()) text += "User=" + unit.user + "\n";
    if (!unit.group.empty()) text += "Group=" + unit.group + "\n";
    // SECURITY: what the service creates is its own and its group's only.
    text += "UMask=0007\nLimitNOFILE=" + std::string(kUnitOpenFilesLimit) + "\n";
    if (!unit.runtimeDirectory.empty()) {
        // setgid, so what the service creates there belongs to the group; kept over a
        // stop, since a console may still hold objects in it.
        text += "RuntimeDirectory=" + unit.runtimeDirectory +
                "\nRuntimeDirectoryMode=2770\nRuntimeDirectoryPreserve=yes\n";
    }
    if (!unit.user.empty()) {
        // SECURITY: an account may still bind the FTP and web ports below 1024, and
        // that is the one privilege it may ever hold.
        text += "AmbientCapabilities=CAP_NET_BIND_SERVICE\nCapabilityBoundingSet=CAP_NET_BIND_SERVICE\n";
    } else {
        // SECURITY: root keeps only what serving other accounts' files takes.
        text += "CapabilityBoundingSet=" + std::string(kRootCapabilities) + "\n";
    }
    // SECURITY: no set-user-ID gains, and the system's programs and configuration
    // read-only. A data path holding /usr, /etc or /boot ("/") stays read-only there.
    text += "NoNewPrivileges=yes\n";
    // A /tmp of its own, and no /home, unless a data path lies there: it would vanish.
    if (!anyReaches(paths, {"/tmp", "/var/tmp"})) text += "PrivateTmp=yes\n";
    text += "ProtectSystem=full\n";
    if (!anyReaches(paths, {"/home", "/root", "/run/user"})) text += "ProtectHome=yes\n";
    for (const std::string& path : paths)
        if (within(path, "/usr") || within(path, "/etc") || within(path, "/boot"))
            text += "ReadWritePaths=" + readWritePathWord(path) + "\n";
    // SECURITY: away with what the server never needs, while everything it does keeps
    // working:
    // - files anywhere outside the places frozen or hidden above: homes, the program
    //   directory (its XML files, their ".broken" copies, a self-signed certificate it
    //   makes there), certificates read from /etc (certbot's /etc/letsencrypt), and a
    //   transfer log file, which, like a home, must be named here when it lies in one
    //   of those places;
    // - IPv4, IPv6 and local sockets only: the FTP and web ports, a further listener
    //   such as SFTP, the journal and systemd's notifications;
    // - no mounts, no device but the basic ones (null, urandom, shm), no kernel
    //   setting, module or log, no clock or host name, no namespace, no real-time
    //   scheduling, no set-user-ID file;
    // - the system calls of an ordinary service (@system-service holds sendfile,
    //   splice, fallocate, the socket options, eventfd, sched_yield; memory-hard
    //   password hashing needs only mmap and brk). A call outside the set ends the
    //   process with SIGSYS and systemd restarts it: loud, never a quiet fallback;
    // - no memory both writable and executable: nothing it loads (OpenSSL, TinyXML,
    //   libssh) generates code;
    // - other processes out of sight in /proc.
    // A feature that needs more (PAM's helpers) adds its allowance when it lands.
    text += "PrivateDevices=yes\nPrivateMounts=yes\nProtectProc=invisible\n"
            "ProtectKernelTunables=yes\nProtectKernelModules=yes\nProtectKernelLogs=yes\n"
            "ProtectControlGroups=yes\nProtectClock=yes\nProtectHostname=yes\n"
            "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\nRestrictNamespaces=yes\n"
            "RestrictRealtime=yes\nRestrictSUIDSGID=yes\nLockPersonality=yes\nMemoryDenyWriteExecute=yes\n"
            "SystemCallArchitectures=native\nSystemCallFilter=@system-service\n";
    text += "\n[Install]\nWantedBy=multi-user.target\n";
    return text;
}

ServiceManager::Settings ServiceManager::settingsFromEnvironment(const std::string& unitName) {
    Settings settings;
    const char* systemctl = std::getenv("CORVELFTP_SYSTEMCTL");
    settings.systemctl = systemctl && *systemctl ? systemctl : "systemctl";
    const char* groupadd = std::getenv("CORVELFTP_GROUPADD");
    if (groupadd && *groupadd)
        settings.groupadd = groupadd;
    else
        settings.groupadd = ::access("/usr/sbin/groupadd", X_OK) == 0 ? "/usr/sbin/groupadd" : "groupadd";
    const char* journalctl = std::getenv("CORVELFTP_JOURNALCTL");
    settings.journalctl = journalctl && *journalctl ? journalctl : "journalctl";
    const char* directory = std::getenv("CORVELFTP_UNIT_DIR");
    settings.unitDirectory = directory && *directory ? directory : "/etc/systemd/system";
    settings.unitName = unitName;
    return settings;
}

ServiceManager::ServiceManager(Settings settings) : settings_(std::move(settings)) {}

std::string ServiceManager::unitPath() const {
    std::string path = settings_.unitDirectory;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + settings_.unitName;
}

ServiceCallResult ServiceManager::call(const std::string& verb, const std::string& option, std::string* output) {
    std::vector<std::string> arguments{verb};
    if (!option.empty()) arguments.push_back(option);
    if (verb != "is-system-running" && verb != "daemon-reload") arguments.push_back(settings_.unitName);
    ProcessResult run = runProcess(settings_.systemctl, arguments, settings_.callTimeoutMs);
    if (output) *output = run.output;
    return describeRun(run, "systemctl " + verb, settings_.callTimeoutMs);
}

ServiceCallResult ServiceManager::ensureGroup(const std::string& group) {
    if (group.empty() || groupExists(group)) return ServiceCallResult::success();
    ProcessResult run = runProcess(settings_.groupadd, {"--system", group}, settings_.callTimeoutMs);
    if (run.exitedWith(kGroupaddNameInUse)) return ServiceCallResult::success();
    ServiceCallResult result = describeRun(run, "groupadd", settings_.callTimeoutMs);
    if (result) return result;
    std::string reason = result.errorText;
    if (run.outcome == ProcessOutcome::StartFailed) reason = "groupadd: " + reason;
    return ServiceCallResult::failure("The group " + group + " cannot be created: " + reason);
}

ServiceCallResult ServiceManager::connect() {
    std::string output;
    ServiceCallResult result = call("is-system-running", "", &output);
    const std::string answer = firstLine(output);
    // Any other answer (running, degraded, starting, maintenance...) means systemd
    // is there; is-system-running exits non-zero for most of them.
    if (answer == "offline" || answer == "unknown" || (answer.empty() && !result.ok)) {
        if (!result.ok && answer.empty() && !result.errorText.empty()) return result;
        return ServiceCallResult::failure("The service manager (systemd) is not running on this system.");
    }
    return ServiceCallResult::success();
}

bool ServiceManager::unitInstalled() const { return pathExists(unitPath()); }

ServiceCallResult ServiceManager::installUnit(const UnitDescription& unit) {
    if (unitInstalled()) return ServiceCallResult::failure("The specified service already exists.");
    std::optional<std::string> text = unitFileText(unit);
    if (!text)
        return ServiceCallResult::failure(
            "The account name, the program path or an account's home directory holds a control character.");
    ServiceCallResult grouped = ensureGroup(unit.group);
    if (!grouped) return grouped;
    errno = 0;
    bool written = replaceFileAtomically(unitPath(), [&text](std::FILE* file) {
        return std::fwrite(text->data(), 1, text->size(), file) == text->size();
    });
    if (!written) return ServiceCallResult::failure(errno ? std::strerror(errno) : "The unit file cannot be written.");
    ServiceCallResult result = call("daemon-reload", "");
    if (result) result = call("enable", "");
    if (!result) {
        // Half an installation helps nobody: take the file away again.
        ::unlink(unitPath().c_str());
        call("daemon-reload", "");
    }
    return result;
}

ServiceCallResult ServiceManager::removeUnit() {
    ServiceCallResult result = call("disable", "");
    if (!result) return result;
    if (::unlink(unitPath().c_str()) != 0 && errno != ENOENT) return ServiceCallResult::failure(std::strerror(errno));
    return call("daemon-reload", "");
}

ServiceCallResult ServiceManager::requestStart() {
    // The journal's --since takes "@seconds" with a fraction; a little early is harmless,
    // as nothing of the unit is logged between this and the request.
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    char since[48];
    std::snprintf(since, sizeof since, "@%lld.%06lld", static_cast<long long>(now.count() / 1000000),
                  static_cast<long long>(now.count() % 1000000));
    startRequestedAt_ = since;
    return call("start", "--no-block");
}

ServiceCallResult ServiceManager::requestStop() { return call("stop", "--no-block"); }

ServiceCallResult ServiceManager::resetFailed() { return call("reset-failed", ""); }

UnitStatus ServiceManager::status() {
    std::string output;
    UnitStatus status;
    if (!call("show", "--property=ActiveState,SubState,InvocationID,Job,StatusText,ExecMainCode,ExecMainStatus",
              &output))
        return status;
    int mainCode = 0;
    int mainStatus = 0;
    for (std::size_t at = 0; at < output.size();) {
        std::size_t end = output.find('\n', at);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(at, end - at);
        at = end + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "ActiveState") status.state = parseState(value);
        else if (key == "SubState") status.subState = value;
        else if (key == "InvocationID") status.invocationId = value;
        else if (key == "Job") status.jobPending = !value.empty();
        else if (key == "StatusText") status.statusText = value;
        else if (key == "ExecMainCode") mainCode = std::atoi(value.c_str());
        else if (key == "ExecMainStatus") mainStatus = std::atoi(value.c_str());
    }
    // ExecMainCode is the waitid code: the status is an exit status or a signal number.
    if (mainCode == CLD_EXITED && mainStatus != 0) {
        status.mainProcessEnd = "exited with status " + std::to_string(mainStatus);
    } else if ((mainCode == CLD_KILLED || mainCode == CLD_DUMPED) && mainStatus > 0) {
        const char* name = ::strsignal(mainStatus);
        status.mainProcessEnd = "was ended by signal " + std::to_string(mainStatus) +
                                (name ? " (" + std::string(name) + ")" : std::string());
    }
    return status;
}

std::vector<std::string> ServiceManager::errorsSinceStartRequest() {
    std::vector<std::string> lines;
    if (startRequestedAt_.empty()) return lines;
    ProcessResult run = runProcess(settings_.journalctl,
                                   {"--unit=" + settings_.unitName, "--since=" + startRequestedAt_, "--priority=err",
                                    "--output=cat", "--no-pager", "--quiet"},
                                   settings_.callTimeoutMs);
    if (!run.exitedWith(0)) return lines;
    const std::string ownPrefix = settings_.unitName + ": ";
    const std::string jobFailed = "Failed to start " + settings_.unitName;
    for (std::size_t at = 0; at < run.output.size();) {
        std::size_t end = run.output.find('\n', at);
        if (end == std::string::npos) end = run.output.size();
        std::string line = run.output.substr(at, end - at);
        at = end + 1;
        if (line.compare(0, ownPrefix.size(), ownPrefix) == 0) line.erase(0, ownPrefix.size());
        if (line.empty() || line.compare(0, jobFailed.size(), jobFailed) == 0) continue;
        lines.push_back(line);
    }
    return lines;
}

}  // namespace corvel
