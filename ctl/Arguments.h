// corvelctl's command line: the table of its commands and options, the parser that
// turns the arguments into one Invocation, and the help texts drawn from the table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvel {

enum class CommandId {
    UserList,
    UserAdd,
    UserPasswd,
    UserSet,
    UserDel,
    UserKeyAdd,
    UserKeyList,
    UserKeyDel,
    PolicyShow,
    PolicyMode,
    PolicyAdd,
    PolicyDel,
    SettingsShow,
    SettingsSet,
    SettingsUnset,
    Status,
    Reload,
    Stop,
    Sessions,
    Kick,
    ShareList,
    ShareAdd,
    ShareRevoke,
};

struct OptionEntry {
    std::string_view name;       // "--home"
    std::string_view valueName;  // "DIR"; empty for a flag
    std::string_view help;
    bool required = false;
    std::string_view excludes;  // an option that may not be given with this one
};

struct CommandEntry {
    CommandId id;
    std::string_view group;  // "user" or "user key"; empty for a command without sub-commands
    std::string_view name;   // "add", or the command itself ("status")
    std::vector<std::string_view> operands;  // "NAME", "KEY", "VALUE": all required
    // When not empty, the words the first operand may be (a usage error otherwise).
    std::vector<std::string> choices;
    std::vector<OptionEntry> options;
    std::string_view summary;      // one line for the lists
    std::string_view description;  // the command's help paragraph
    // Listed under "Keys:" in the help: each key of ftpconfig.xml the command takes
    // and what it says of it.
    std::vector<std::pair<std::string_view, std::string>> keys = {};
    // Words the first operand may also be, for the server's extensions; a refusal
    // names them after the designed ones.
    std::vector<std::string> extensionChoices = {};
    // How many of the last operands may be left out (a command may take an option
    // instead, as kick takes --user NAME instead of ID).
    std::size_t optionalOperands = 0;
};

// Every command, in the order the help lists them.
const std::vector<CommandEntry>& commandTable();

// One command as the arguments ask for it.
struct Invocation {
    CommandId command = CommandId::Status;
    std::vector<std::string> operands;
    std::vector<std::pair<std::string, std::string>> options;  // as given; a flag's value is ""
    std::optional<std::string> programDirectory;                // --dir
    bool json = false;                                          // --json

    bool has(std::string_view option) const;
    // The value of the last occurrence of option; nullptr when it was not given.
    const std::string* value(std::string_view option) const;
};

enum class ParseOutcome {
    Run,         // invocation is complete and checked
    Help,        // text is the help asked for (print it to standard output, exit 0)
    UsageError,  // text says what is wrong (print it with the --help hint, exit 2)
};

struct ParsedArguments {
    ParseOutcome outcome = ParseOutcome::UsageError;
    Invocation invocation;
    std::string text;
};

// Reads the arguments after the program name. --dir, --json and --help (-h) may
// stand anywhere; a command's own options anywhere after its name, as "--opt VALUE"
// or "--opt=VALUE"; "--" ends the options, so an operand may start with '-'. --help
// wins over every error and shows the help of the command named so far.
ParsedArguments parseArguments(const std::vector<std::string>& arguments);

// The hint that follows every usage error.
inline constexpr char kHelpHint[] = "Run 'corvelctl --help' for the commands, 'corvelctl COMMAND --help' for one.";

}  // namespace corvel
