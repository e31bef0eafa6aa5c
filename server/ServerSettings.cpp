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

// Digits only, within [low, high]; anything else is a problem named after the element.
std::optional<std::uint64_t> strictNumber(const std::string& text, std::uint64_t low, std::uint64_t high) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const std::uint64_t value = std::stoull(text);
    if (value < low || value > high) return std::nullopt;
    return value;
}

// Reads the optional elements of the extensions; a present element with a value it
// cannot take is a problem, never a silent default.
void applyExtensions(const SettingsFile& file, ServerSettings& settings) {
    // Every extension starts from off, so an element taken away is off again.
    const ServerSettings off;
    settings.tls = off.tls;
    settings.webTls = off.webTls;
    settings.tlsReuse = off.tlsReuse;
    settings.passivePorts = off.passivePorts;
    settings.ftpExtensions = off.ftpExtensions;
    settings.banFailures = off.banFailures;
    settings.banWindowMinutes = off.banWindowMinutes;
    settings.banMinutes = off.banMinutes;
    settings.maxPerAddress = off.maxPerAddress;
    settings.webPolicy = off.webPolicy;
    settings.webExtensions = off.webExtensions;
    settings.proxyFrom.clear();
    settings.problems.clear();
    auto problem = [&settings](const char* element, const std::string& text, const char* expected) {
        settings.problems.push_back(std::string("<") + element + ">" + text + "</" + element + "> is not " + expected);
    };
    auto yesNo = [&](const char* element, bool& field) {
        std::optional<std::string> text = file.text(element);
        if (!text) return;
        if (*text == "yes")
            field = true;
        else if (*text == "no")
            field = false;
        else
            problem(element, *text, "yes or no");
    };
    auto number = [&](const char* element, std::uint32_t& field, std::uint64_t low, std::uint64_t high,
                      const char* expected) {
        std::optional<std::string> text = file.text(element);
        if (!text) return;
        if (std::optional<std::uint64_t> value = strictNumber(*text, low, high))
            field = static_cast<std::uint32_t>(*value);
        else
            problem(element, *text, expected);
    };

    if (std::optional<std::string> tls = file.text("tls")) {
        if (*tls == "off")
            settings.tls = TlsMode::Off;
        else if (*tls == "explicit")
            settings.tls = TlsMode::Explicit;
        else if (*tls == "required")
            settings.tls = TlsMode::Required;
        else
            problem("tls", *tls, "off, explicit or required");
    }
    settings.tlsCertificate = file.text("tlscert").value_or("");
    settings.tlsKey = file.text("tlskey").value_or("");
    yesNo("webtls", settings.webTls);
    yesNo("tlsreuse", settings.tlsReuse);
    if (std::optional<std::string> ports = file.text("pasvports")) {
        const std::size_t dash = ports->find('-');
        std::optional<std::uint64_t> first, last;
        if (dash != std::string::npos) {
            first = strictNumber(ports->substr(0, dash), 1, 65535);
            last = strictNumber(ports->substr(dash + 1), 1, 65535);
        }
        if (first && last && *first <= *last)
            settings.passivePorts = PortRange{static_cast<std::uint16_t>(*first), static_cast<std::uint16_t>(*last)};
        else
            problem("pasvports", *ports, "a range of ports such as 50000-50099");
    }
    settings.passiveAddress = file.text("pasvaddress").value_or("");
    yesNo("ftpext", settings.ftpExtensions);
    number("banfailures", settings.banFailures, 0, 1000000, "a number of failed logins");
    number("banwindow", settings.banWindowMinutes, 1, 525600, "a number of minutes (1 or more)");
    number("banminutes", settings.banMinutes, 1, 525600, "a number of minutes (1 or more)");
    number("maxperip", settings.maxPerAddress, 0, 1000000, "a number of connections");
    yesNo("webpolicy", settings.webPolicy);
    yesNo("webext", settings.webExtensions);
    if (std::optional<std::string> proxies = file.text("proxyfrom")) {
        std::string pattern;
        for (char c : *proxies + " ") {
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
                if (!pattern.empty()) settings.proxyFrom.push_back(pattern);
                pattern.clear();
            } else {
                pattern += c;
            }
        }
        if (settings.proxyFrom.empty()) problem("proxyfrom", *proxies, "a list of address patterns");
    }
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
    applyExtensions(file, settings);
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
