// The command line of corveld, read into what it asks for.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvel {

enum class CommandAction {
    NoAction,      // nothing recorded: run as the service (or log that we cannot)
    Plain,         // "/nontservice" alone: the plain server
    DebugConsole,  // "-d": in the terminal
    Faceless,      // "-f": detached
    Install,       // "-i"
    Remove,        // "-u"
    Start,         // "-s"
    Stop,          // "-e"
};

struct CommandLine {
    CommandAction action = CommandAction::NoAction;
    std::optional<std::string> account;   // "-l"
    std::optional<std::string> password;  // "-p" (systemd takes none; kept for completeness)
};

// Scans the arguments (without the program name) from first to last. Only an
// argument starting with '-' counts, and its second character selects: "-d" and
// "-f" act at once and end the scan; "-i", "-u", "-s", "-e" record an action and
// the last one wins; "-l" and "-p" take the rest of the argument, or the next
// argument when the rest is empty (as the last argument they set nothing). A lone
// "/nontservice" selects the plain server; every other argument is ignored.
CommandLine parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace corvel
