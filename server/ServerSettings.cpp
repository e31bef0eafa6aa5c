#include "server/ServerSettings.h"

#include <optional>

#include "config/ExtensionSettings.h"
#include "config/SettingsFile.h"
#include "common/DecimalText.h"
#include "common/FileList.h"
#include "common/XmlFiles.h"
#include "platform/SystemLog.h"

namespace corvel {
namespace {

std::int64_t numberOr(const std::optional<std::string>& text, std::int64_t fallback) {
    if (!text || text->empty()) return fallback;
    return scanDecimal(*text);
}

// Reads the optional elements of the extensions with the rules the console and
// corvelctl check them with; a present element with a value it cannot take is a
// problem, never a silent default.
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
    settings.maxLoginPerAddress = off.maxLoginPerAddress;
    settings.webMaxPerAddress = off.webMaxPerAddress;
    settings.webPolicy = off.webPolicy;
    settings.webExtensions = off.webExtensions;
    settings.webApp = off.webApp;
    settings.webCharset.clear();
    settings.proxyFrom.clear();
    settings.passwordScheme = off.passwordScheme;
    settings.transferLog.clear();
    settings.sftpPort = off.sftpPort;
    settings.sftpListenAddress.clear();
    settings.sftpHostKeys.clear();
    settings.problems.clear();
    auto problem = [&settings](const char* element, const std::string& text) {
        settings.problems.push_back(extensionRefusalText(element, text));
    };
    auto yesNo = [&](const char* element, bool& field) {
        std::optional<std::string> text = file.text(element);
        if (!text) return;
        if (std::optional<bool> value = yesNoValue(*text))
            field = *value;
        else
            problem(element, *text);
    };
    auto number = [&](const char* element, std::uint32_t& field) {
        std::optional<std::string> text = file.text(element);
        if (!text) return;
        const ExtensionElement& rule = *findExtensionElement(element);
        if (std::optional<std::uint32_t> value = countValue(*text, rule.low, rule.high))
            field = *value;
        else
            problem(element, *text);
    };

    if (std::optional<std::string> tls = file.text("tls")) {
        if (std::optional<TlsMode> mode = tlsModeValue(*tls))
            settings.tls = *mode;
        else
            problem("tls", *tls);
    }
    settings.tlsCertificate = file.text("tlscert").value_or("");
    settings.tlsKey = file.text("tlskey").value_or("");
    yesNo("webtls", settings.webTls);
    yesNo("tlsreuse", settings.tlsReuse);
    if (std::optional<std::string> ports = file.text("pasvports")) {
        if (std::optional<PortSpan> span = portSpanValue(*ports))
            settings.passivePorts = PortRange{span->first, span->last};
        else
            problem("pasvports", *ports);
    }
    settings.passiveAddress = file.text("pasvaddress").value_or("");
    yesNo("ftpext", settings.ftpExtensions);
    number("banfailures", settings.banFailures);
    number("banwindow", settings.banWindowMinutes);
    number("banminutes", settings.banMinutes);
    number("maxperip", settings.maxPerAddress);
    number("maxprelogin", settings.maxLoginPerAddress);
    number("webmaxperip", settings.webMaxPerAddress);
    yesNo("webpolicy", settings.webPolicy);
    yesNo("webext", settings.webExtensions);
    yesNo("webapp", settings.webApp);
    if (std::optional<std::string> charset = file.text("webcharset")) {
        if (std::optional<std::string> name = charsetValue(*charset))
            settings.webCharset = *name;
        else
            problem("webcharset", *charset);
    }
    if (std::optional<std::string> proxies = file.text("proxyfrom")) {
        settings.proxyFrom = addressListValue(*proxies);
        if (settings.proxyFrom.empty()) problem("proxyfrom", *proxies);
    }
    if (std::optional<std::string> log = file.text("xferlog")) {
        if (!log->empty() && log->find_first_of(std::string_view("\0\n\r", 3)) == std::string::npos)
            settings.transferLog = *log;
        else
            settings.problems.push_back("<xferlog>" + *log + "</xferlog> is not a file name");
    }
    if (std::optional<std::string> hash = file.text("passwordhash")) {
        if (std::optional<PasswordScheme> scheme = passwordSchemeValue(*hash))
            settings.passwordScheme = *scheme;
        else
            // Not one of the tools' keys (the file alone sets it), so its words are here.
            settings.problems.push_back("<passwordhash>" + *hash + "</passwordhash> is not argon2id");
    }
    std::uint32_t sftpPort = 0;
    number("sftpport", sftpPort);
    settings.sftpPort = static_cast<std::uint16_t>(sftpPort);
    if (std::optional<std::string> address = file.text("sftplistenip")) {
        if (!extensionValueProblem(*findExtensionElement("sftplistenip"), *address))
            settings.sftpListenAddress = *address;
        else
            problem("sftplistenip", *address);
    }
    if (std::optional<std::string> keys = file.text("sftphostkey")) {
        if (!extensionValueProblem(*findExtensionElement("sftphostkey"), *keys))
            settings.sftpHostKeys = fileListValue(*keys);
        else
            problem("sftphostkey", *keys);
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
