// Fuzzes the settings file: arbitrary ftpconfig.xml contents go through
// loadSettings (from the file) and applySettingsDocument (from the text).
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "server/ServerSettings.h"

namespace corvel::fuzzing {
namespace {

bool sameSettings(const ServerSettings& a, const ServerSettings& b) {
    return a.listenAddress == b.listenAddress && a.ftpPort == b.ftpPort && a.webPort == b.webPort &&
           a.maxConnections == b.maxConnections && a.passiveMode == b.passiveMode &&
           a.welcomeMessage == b.welcomeMessage;
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    ScratchDirectory& dir = fileTargetDirectory();
    std::string text(reinterpret_cast<const char*>(data), size);
    placeInput(dir, "ftpconfig.xml", text);

    ServerSettings fromFile;
    const bool loaded = loadSettings(dir.directory(), fromFile);
    if (!loaded) check(sameSettings(fromFile, ServerSettings{}), "a load without a root element changes nothing");

    const ServerSettings before;
    ServerSettings fromText;
    if (!applySettingsDocument(text, fromText)) check(sameSettings(fromText, before), "a failed apply changes nothing");

    // The file now loads as it is (the input, or the default that replaced it).
    ServerSettings again;
    check(loadSettings(dir.directory(), again) == loaded, "a second load finds the same root element");
    check(sameSettings(again, fromFile), "a second load reads the same values");
    return 0;
}
