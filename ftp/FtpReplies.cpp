#include "ftp/FtpReplies.h"

#include <cstdio>

namespace corvel::replies {

namespace {
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (std::string_view part : parts) text += part;
    return text;
}

constexpr DialectTexts kDesignedTexts = {
    "220 Type set to A\r\n",
    "220 Type set to I\r\n",
    "250 command ok \r\n",  // the blank before CR LF is part of it
    "550 Too Many Connection\r\n",
    "426 Connection closed; Transfer aborted\r\n",
};

// RFC 959: TYPE answers 200; a reply line ends with its text, no blank; a server that
// turns a client away says 421; ABOR after the transfer has ended answers 226.
constexpr DialectTexts kStandardTexts = {
    "200 Type set to A\r\n",
    "200 Type set to I\r\n",
    "250 command ok\r\n",
    "421 Too many connections.\r\n",
    "226 No transfer to abort.\r\n",
};

// Each line of text (CR LF, LF or CR ends one) after prefix, so a welcome of
// several lines stays inside the multi-line reply.
std::string prefixedLines(std::string_view prefix, std::string_view text) {
    std::string lines;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of("\r\n");
        lines += joined({prefix, text.substr(0, end), "\r\n"});
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
    }
    return lines;
}

// "/" + the session's directory text, the root as "/".
std::string absolutePath(std::string_view directory) {
    if (directory.empty() || directory == "/") return "/";
    return joined({"/", directory});
}

// RFC 959, appendix II: a '"' inside the quoted path is written twice.
std::string quotedPath(std::string_view path) {
    std::string quoted = "\"";
    for (char c : path) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}
}  // namespace

const DialectTexts& textsOf(Dialect dialect) {
    return dialect == Dialect::Standard ? kStandardTexts : kDesignedTexts;
}

std::string pathRefused(std::string_view normalised, std::string_view suffix) {
    return joined({"550 /", normalised, suffix, "\r\n"});
}

std::string notUnderstood(std::string_view verb) { return joined({"500 \"", verb, "\" :command not understood\r\n"}); }

std::string tooLong(std::string_view firstWord) { return joined({"500 \"", firstWord, "...\" :command is too long\r\n"}); }

std::string greeting(Dialect dialect, std::string_view welcomeMessage) {
    if (welcomeMessage.empty()) return joined({"220 ", kBanner, "\r\n"});
    if (dialect == Dialect::Standard)
        return joined({"220-", kBanner, "\r\n", prefixedLines("220-", welcomeMessage), "220 Service ready for new user.\r\n"});
    return joined({"220- ", kBanner, "\r\n220- ", welcomeMessage, "\r\n220 \r\n"});
}

std::string loggedIn(Dialect dialect, std::string_view welcome, long long d, std::string_view user) {
    char uptime[96];
    std::snprintf(uptime, sizeof uptime, "%lldh-%lldm-%llds", d / 3600, (d % 3600) / 60, d % 60);
    if (dialect == Dialect::Standard)
        return joined({prefixedLines("230-", welcome), "230-Service has run for ", uptime, "\r\n230 ", user,
                       " logged in.\r\n"});
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

std::string transferOpening(Dialect dialect, bool ascii, std::string_view argument, std::optional<long long> size) {
    std::string text = joined(
        {ascii ? "150 Opening ASCII mode data connection for " : "150 Opening BINARY mode data connection for ", argument});
    if (size) text += joined({dialect == Dialect::Standard ? " (" : "(", std::to_string(*size), " bytes)"});
    return text + "\r\n";
}

std::string directoryChanged(Dialect dialect, std::string_view directory) {
    return joined({"250 Directory changed to ", dialect == Dialect::Standard ? absolutePath(directory) : directory, "\r\n"});
}

std::string currentDirectory(Dialect dialect, std::string_view directory) {
    if (dialect == Dialect::Standard) return joined({"257 ", quotedPath(absolutePath(directory)), " is current directory.\r\n"});
    return joined({"257 \"", directory, "/\" is current directory.\r\n"});
}

std::string directoryCreated(Dialect dialect, std::string_view argument, std::string_view normalised) {
    if (dialect == Dialect::Standard) return joined({"257 ", quotedPath(absolutePath(normalised)), " directory created.\r\n"});
    return joined({"257 \"", argument, "\" directory created.\r\n"});
}

std::string modificationTime(std::string_view machineTime) { return joined({"213 ", machineTime, "\r\n"}); }

std::string modificationTimeSet(std::string_view machineTime, std::string_view path) {
    return joined({"213 Modify=", machineTime, "; ", path, "\r\n"});
}

std::string machineListing(std::string_view name, std::string_view facts) {
    return joined({"250-Listing ", name, "\r\n ", facts, " ", name, "\r\n250 End\r\n"});
}

std::vector<std::string> extensionFeatures(std::string_view mlstFacts) {
    return {"EPRT", "EPSV", "MDTM", "MFMT", joined({"MLST ", mlstFacts}), "REST STREAM", "SIZE", "TVFS", "UTF8"};
}

std::string mlstOptions(std::string_view selectedFacts) {
    return joined({"200 MLST OPTS", selectedFacts.empty() ? "" : " ", selectedFacts, "\r\n"});
}

std::string features(const std::vector<std::string>& lines) {
    std::string text = "211-Features:\r\n";
    for (const std::string& line : lines) text += " " + line + "\r\n";
    return text + "211 End\r\n";
}

}  // namespace corvel::replies
