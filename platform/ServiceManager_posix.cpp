#include "platform/ServiceManager.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/Process.h"

namespace corvel {
namespace {

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

UnitState parseState(const std::string& word) {
    if (word == "active") return UnitState::Active;
    if (word == "reloading") return UnitState::Reloading;
    if (word == "inactive") return UnitState::Inactive;
    if (word == "failed") return UnitState::Failed;
    if (word == "activating") return UnitState::Activating;
    if (word == "deactivating") return UnitState::Deactivating;
    return UnitState::Unknown;
}

}  // namespace

std::optional<std::string> unitFileText(const UnitDescription& unit) {
    // SECURITY: a line break in any value would add settings of the caller's choice.
    if (hasControlCharacter(unit.description) || hasControlCharacter(unit.executable) ||
        hasControlCharacter(unit.user))
        return std::nullopt;
    std::string text = "[Unit]\nDescription=" + unit.description + "\n\n[Service]\nType=notify\nExecStart=" +
                       execStartWord(unit.executable) + "\n";
    if (!unit.user.empty()) text += "User=" + unit.user + "\n";
    text += "\n[Install]\nWantedBy=multi-user.target\n";
    return text;
}

ServiceManager::Settings ServiceManager::settingsFromEnvironment(const std::string& unitName) {
    Settings settings;
    const char* systemctl = std::getenv("CORVELFTP_SYSTEMCTL");
    settings.systemctl = systemctl && *systemctl ? systemctl : "systemctl";
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
    const std::string what = "systemctl " + verb;
    switch (run.outcome) {
        case ProcessOutcome::StartFailed:
            return ServiceCallResult::failure(run.failure);
        case ProcessOutcome::TimedOut:
            return ServiceCallResult::failure(what + " did not answer within " +
                                              std::to_string(settings_.callTimeoutMs / 1000) + " seconds.");
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
    if (!text) return ServiceCallResult::failure("The account name or the program path holds a control character.");
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

ServiceCallResult ServiceManager::requestStart() { return call("start", "--no-block"); }

ServiceCallResult ServiceManager::requestStop() { return call("stop", "--no-block"); }

UnitState ServiceManager::state() {
    std::string output;
    (void)call("is-active", "", &output);  // non-zero for every state but active
    return parseState(firstLine(output));
}

bool ServiceManager::jobPending() {
    std::string output;
    return call("show", "--property=Job", &output) && !firstLine(output).empty() && firstLine(output) != "Job=";
}

}  // namespace corvel
