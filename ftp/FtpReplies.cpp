#include "ftp/FtpReplies.h"

#include <cstdio>

namespace corvel::replies {

namespace {
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts) text += part;
    return text;
}
}  // namespace

std::string pathRefused(std::string_view normalised, std::string_view suffix) {
    return joined({"550 /", normalised, suffix, "\r\n"});
}

std::string notUnderstood(std::string_view verb) { return joined({"500 \"", verb, "\" :command not understood\r\n"}); }

std::string tooLong(std::string_view firstWord) { return joined({"500 \"", firstWord, "...\" :command is too long\r\n"}); }

std::string greeting(std::string_view welcomeMessage) {
    if (welcomeMessage.empty()) return joined({"220 ", kBanner, "\r\n"});
    return joined({"220- ", kBanner, "\r\n220- ", welcomeMessage, "\r\n220 \r\n"});
}

std::string loggedIn(std::string_view welcome, long long d, std::string_view user) {
    char uptime[96];
    std::snprintf(uptime, sizeof uptime, "%lldh-%lldm-%llds", d / 3600, (d % 3600) / 60, d % 60);
    return joined({"230- ", welcome, "\r\n230- Service has run for ", uptime, "\r\n230 ", user, " logged in.\r\n"});
}

std::string status(std::string_view user, std::string_view peerAddress) {
    return joined({"211- Status for user ", user, " from ", peerAddress, "\r\n211 End of status.\r\n"});
}

std::string passiveMode(std::string_view address, std::uint16_t port) {
    std::string text = joined({"227 Entering Passive Mode (", address, ",", std::to_string(port / 256), ",",
                               std::to_string(port % 256), ")\r\n"});
    for (char& c : text)
        if (c == '.') c = ',';
    return text;
}

std::string extendedPassiveMode(std::uint16_t port) {
    return "229 Entering Extended Passive Mode (|||" + std::to_string(port) + "|)\r\n";
}

std::string networkProtocolNotSupported(std::string_view use) {
    return joined({"522 Network protocol not supported, use (", use, ")\r\n"});
}

std::string restarting(std::string_view argument) {
    return joined({"350 Restarting at ", argument, ". Send STORE or RETRIEVE.\r\n"});
}

std::string size(long long bytes) { return "213 " + std::to_string(bytes) + "\r\n"; }

std::string transferOpening(bool ascii, std::string_view argument) {
    return joined({ascii ? "150 Opening ASCII mode data connection for " : "150 Opening BINARY mode data connection for ",
                   argument});
}

std::string directoryChanged(std::string_view directory) { return joined({"250 Directory changed to ", directory, "\r\n"}); }

std::string currentDirectory(std::string_view directory) {
    return joined({"257 \"", directory, "/\" is current directory.\r\n"});
}

std::string directoryCreated(std::string_view argument) { return joined({"257 \"", argument, "\" directory created.\r\n"}); }

std::string modificationTime(std::string_view machineTime) { return joined({"213 ", machineTime, "\r\n"}); }

std::string modificationTimeSet(std::string_view machineTime, std::string_view path) {
    return joined({"213 Modify=", machineTime, "; ", path, "\r\n"});
}

std::string machineListing(std::string_view name, std::string_view facts) {
    return joined({"250-Listing ", name, "\r\n ", facts, " ", name, "\r\n250 End\r\n"});
}

std::string features(const std::vector<std::string>& lines) {
    std::string text = "211-Features:\r\n";
    for (const std::string& line : lines) text += " " + line + "\r\n";
    return text + "211 End\r\n";
}

}  // namespace corvel::replies
