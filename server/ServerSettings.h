// The six values of ftpconfig.xml, read once per server run.
#pragma once

#include <cstdint>
#include <string>

namespace corvel {

struct ServerSettings {
    std::string listenAddress;  // empty: all interfaces
    std::uint16_t ftpPort = 21;
    std::uint16_t webPort = 8080;
    std::uint32_t maxConnections = 256;
    bool passiveMode = true;
    std::string welcomeMessage;
};

// Reads programDirectory + "ftpconfig.xml" into settings, writing the default file
// first when it cannot be loaded (a damaged one is kept as ftpconfig.xml.broken).
// Returns false, changing nothing, when the document has no root element.
bool loadSettings(const std::string& programDirectory, ServerSettings& settings);

// Applies the document text's values to settings, as loadSettings does.
bool applySettingsDocument(const std::string& documentText, ServerSettings& settings);

}  // namespace corvel
