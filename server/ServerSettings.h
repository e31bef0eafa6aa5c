// The values of ftpconfig.xml, read once per server run: the six of every file and
// the optional elements of the extensions.
#pragma once

#include <cstdint>
#include <string>

namespace corvel {

class LogSink;

// Web connections served at once when ftpconfig.xml does not say.
constexpr std::uint32_t kDefaultMaxWebConnections = 256;

struct ServerSettings {
    std::string listenAddress;  // empty: all interfaces
    std::uint16_t ftpPort = 21;
    std::uint16_t webPort = 8080;
    std::uint32_t maxConnections = 256;
    bool passiveMode = true;
    std::string welcomeMessage;
    // <maxwebconn>: simultaneous web connections; a new one past it is closed at once.
    std::uint32_t maxWebConnections = kDefaultMaxWebConnections;
};

// Reads programDirectory + "ftpconfig.xml" into settings, writing the default file
// first when it cannot be loaded (a damaged one is kept as ftpconfig.xml.broken,
// which log is told). Returns false, changing nothing, when the document has no
// root element.
bool loadSettings(const std::string& programDirectory, ServerSettings& settings, LogSink* log = nullptr);

// Applies the document text's values to settings, as loadSettings does.
bool applySettingsDocument(const std::string& documentText, ServerSettings& settings);

}  // namespace corvel
