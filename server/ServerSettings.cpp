#include "server/ServerSettings.h"

#include <optional>

#include "accounts/SettingsFile.h"
#include "common/DecimalText.h"
#include "common/XmlFiles.h"
#include "platform/SystemLog.h"

namespace corvel {
namespace {

std::int64_t numberOr(const std::optional<std::string>& text, std::int64_t fallback) {
    if (!text || text->empty()) return fallback;
    return scanDecimal(*text);
}

bool applyFile(const SettingsFile& file, ServerSettings& settings) {
    if (!file.hasRoot()) return false;
    settings.listenAddress = file.text("listenip").value_or("");
    settings.ftpPort = static_cast<std::uint16_t>(numberOr(file.text("ftpport"), 21));
    settings.webPort = static_cast<std::uint16_t>(numberOr(file.text("httpport"), 8080));
    settings.maxConnections = static_cast<std::uint32_t>(numberOr(file.text("maxconn"), 256));
    if (auto passive = file.text("pasvmode")) settings.passiveMode = (*passive == "yes");
    settings.welcomeMessage = file.text("welcomemsg").value_or("");
    settings.maxWebConnections = kDefaultMaxWebConnections;
    if (auto web = file.text("maxwebconn"); web && !web->empty()) {
        bool found = false;
        std::int64_t value = scanDecimal(*web, &found);
        // A value that is no positive count leaves the default rather than no web at all.
        if (found && value > 0 && value <= 1'000'000) settings.maxWebConnections = static_cast<std::uint32_t>(value);
    }
    return true;
}

}  // namespace

bool loadSettings(const std::string& programDirectory, ServerSettings& settings, LogSink* log) {
    const std::string path = programDirectory + kSettingsFileName;
    std::string reason;
    XmlLoad outcome = XmlLoad::Loaded;
    SettingsFile file = SettingsFile::readOrCreateDefault(path, &outcome, &reason);
    if (outcome == XmlLoad::ReplacedBroken && log)
        log->write(LogSeverity::Error, path + " could not be read (" + reason + "): kept it as " + path +
                                           ".broken and wrote the default file: listening on all interfaces, "
                                           "FTP port 21, web port 8080");
    return applyFile(file, settings);
}

bool applySettingsDocument(const std::string& documentText, ServerSettings& settings) {
    SettingsFile file = SettingsFile::parse(documentText);
    if (!file.loaded()) return false;
    return applyFile(file, settings);
}

}  // namespace corvel
