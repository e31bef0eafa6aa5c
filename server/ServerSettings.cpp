#include "server/ServerSettings.h"

#include <optional>
#include <tinyxml.h>

#include "accounts/XmlStore.h"
#include "common/DecimalText.h"
#include "common/XmlFiles.h"
#include "common/XmlText.h"
#include "platform/SystemLog.h"

namespace corvel {
namespace {

// The element's text when its first child node is text; nullopt when the element is
// missing; empty when it has no text.
std::optional<std::string> elementText(const TiXmlElement* root, const char* name) {
    const TiXmlElement* element = root->FirstChildElement(name);
    if (!element) return std::nullopt;
    const TiXmlNode* first = element->FirstChild();
    if (first && first->ToText()) return std::string(first->Value());
    return std::string();
}

std::int64_t numberOr(const std::optional<std::string>& text, std::int64_t fallback) {
    if (!text || text->empty()) return fallback;
    return scanDecimal(*text);
}

bool applyRoot(const TiXmlElement* root, ServerSettings& settings) {
    if (!root) return false;
    settings.listenAddress = elementText(root, "listenip").value_or("");
    settings.ftpPort = static_cast<std::uint16_t>(numberOr(elementText(root, "ftpport"), 21));
    settings.webPort = static_cast<std::uint16_t>(numberOr(elementText(root, "httpport"), 8080));
    settings.maxConnections = static_cast<std::uint32_t>(numberOr(elementText(root, "maxconn"), 256));
    if (auto passive = elementText(root, "pasvmode")) settings.passiveMode = (*passive == "yes");
    settings.welcomeMessage = elementText(root, "welcomemsg").value_or("");
    settings.maxWebConnections = kDefaultMaxWebConnections;
    if (auto web = elementText(root, "maxwebconn"); web && !web->empty()) {
        bool found = false;
        std::int64_t value = scanDecimal(*web, &found);
        // A value that is no positive count leaves the default rather than no web at all.
        if (found && value > 0 && value <= 1'000'000) settings.maxWebConnections = static_cast<std::uint32_t>(value);
    }
    return true;
}

}  // namespace

bool loadSettings(const std::string& programDirectory, ServerSettings& settings, LogSink* log) {
    TiXmlDocument doc;
    const std::string path = programDirectory + kSettingsFileName;
    std::string reason;
    if (loadOrCreateDefault(doc, path, kDefaultSettingsDocument, kPublicFileMode, &reason) == XmlLoad::ReplacedBroken &&
        log)
        log->write(LogSeverity::Error, path + " could not be read (" + reason + "): kept it as " + path +
                                           ".broken and wrote the default file: listening on all interfaces, "
                                           "FTP port 21, web port 8080");
    return applyRoot(doc.RootElement(), settings);
}

bool applySettingsDocument(const std::string& documentText, ServerSettings& settings) {
    TiXmlDocument doc;
    if (!parseXmlText(doc, documentText)) return false;
    return applyRoot(doc.RootElement(), settings);
}

}  // namespace corvel
