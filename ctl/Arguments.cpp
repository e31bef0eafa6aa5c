#include "ctl/Arguments.h"

#include <algorithm>

#include "ctl/SettingKeys.h"

namespace corvel {
namespace {

const OptionEntry kHome{"--home", "DIR", "the account's home directory, an absolute path", false, ""};
const OptionEntry kRights{"--rights", "LIST",
                         "comma-separated rights: read, write, create, delete, list, mkdir, rmdir, exec, or all "
                         "(none for no right)",
                         false, ""};
const OptionEntry kWelcome{"--welcome", "TEXT", "the text the account is greeted with after its login", false, ""};
const OptionEntry kDescription{"--description", "TEXT", "a description of the account (its alias)", false, ""};
const OptionEntry kPasswordStdin{"--password-stdin", "",
                                "read the password as one line from standard input instead of asking twice on "
                                "the terminal",
                                false, ""};

std::vector<std::string> settingKeyNames(bool optionalOnly) {
    std::vector<std::string> names;
    for (const SettingKey& key : settingKeys())
        if (key.optional || !optionalOnly) names.emplace_back(key.name);
    return names;
}

// settings set's keys with what each may be.
std::vector<std::pair<std::string_view, std::string>> settableKeys() {
    std::vector<std::pair<std::string_view, std::string>> keys;
    for (const SettingKey& key : settingKeys()) keys.emplace_back(key.name, key.valueHelp);
    return keys;
}

// settings unset's keys with what the server does without each.
std::vector<std::pair<std::string_view, std::string>> optionalKeys() {
    std::vector<std::pair<std::string_view, std::string>> keys;
    for (const SettingKey& key : settingKeys())
        if (key.optional) keys.emplace_back(key.name, std::string("without it: ") + key.serverDefault);
    return keys;
}

std::vector<CommandEntry> buildTable() {
    OptionEntry requiredHome = kHome;
    requiredHome.required = true;
    return {
        {CommandId::UserList, "user", "list", {}, {}, {},
         "list the accounts",
         "Lists the accounts of ftpusers.xml: name, home directory, rights and whether the account is disabled. "
         "With --json: an array of objects that also hold the description and the welcome text."},
        {CommandId::UserAdd, "user", "add", {"NAME"}, {},
         {requiredHome, kRights, kWelcome, kDescription,
          {"--disabled", "", "add the account disabled (it cannot log in until enabled)", false, ""},
          kPasswordStdin},
         "add an account",
         "Adds an account. The password is asked for twice on the terminal (not shown), or read from standard "
         "input with --password-stdin, and stored as its digest (as Argon2id with <passwordhash>argon2id). The rights default to list,read. A running "
         "server is asked to reload the accounts."},
        {CommandId::UserPasswd, "user", "passwd", {"NAME"}, {}, {kPasswordStdin},
         "change an account's password",
         "Sets a new password for the account, asked for twice on the terminal or read from standard input with "
         "--password-stdin. Nothing else of the account changes."},
        {CommandId::UserSet, "user", "set", {"NAME"}, {},
         {kHome, kRights, kWelcome, kDescription,
          {"--disable", "", "disable the account", false, "--enable"},
          {"--enable", "", "enable the account", false, "--disable"}},
         "change an account",
         "Changes only what is given; the name and the password stay (use user passwd for the password)."},
        {CommandId::UserDel, "user", "del", {"NAME"}, {}, {},
         "remove an account",
         "Removes the account from ftpusers.xml. Its home directory stays as it is."},
        {CommandId::UserKeyAdd, "user key", "add", {"NAME", "KEY"}, {},
         {{"--file", "FILE", "add every key of FILE instead: one per line, as in authorized_keys or a .pub file", false,
           ""}},
         "add an SSH public key to an account",
         "Adds an SSH public key with which the account signs in on the SFTP port (<sftpport>), given as one "
         "argument in the form of a line of authorized_keys or a .pub file (\"ssh-ed25519 AAAA... comment\"), or "
         "every key of --file. Ed25519, RSA of at least 2048 bits and ECDSA keys are taken; options in front of "
         "a key are not. A key the account holds already is refused. The keys are kept in the account's element "
         "of ftpusers.xml, so the console and every other writer keep them. A disabled account signs in with no "
         "key. A running server is asked to reload the accounts.",
         {},
         {},
         1},
        {CommandId::UserKeyList, "user key", "list", {"NAME"}, {}, {},
         "list an account's SSH public keys",
         "Lists the account's SSH public keys: the SHA-256 fingerprint as ssh-keygen -l and the SFTP clients show "
         "it, the key type and the comment. With --json: an array of objects that also hold each key's line."},
        {CommandId::UserKeyDel, "user key", "del", {"NAME", "FINGERPRINT"}, {}, {},
         "remove an SSH public key from an account",
         "Removes the account's key with that SHA-256 fingerprint (SHA256:... as user key list shows it; the "
         "SHA256: in front may be left out). Sessions signed in with it stay; corvelctl kick --user closes them."},
        {CommandId::PolicyShow, "policy", "show", {}, {}, {},
         "show the IP access policy",
         "Shows the mode of ftpaccess.xml (reject: the listed addresses are refused; permit: only they are "
         "admitted; unset: no mode chosen yet, which the server takes as reject) and its patterns."},
        {CommandId::PolicyMode, "policy", "mode", {"permit|reject"}, {"permit", "reject"}, {},
         "choose the policy's mode",
         "permit admits only the addresses that match a pattern; reject refuses them and admits every other."},
        {CommandId::PolicyAdd, "policy", "add", {"PATTERN"}, {}, {},
         "add an address pattern",
         "Adds a pattern of the client address, in which '*' matches any run of characters and '?' one "
         "character, e.g. 192.168.1.* or 10.0.0.?. A duplicate is refused, and so is a pattern that no "
         "address could ever match (addresses are written as 192.168.1.7, or in lower case as 2001:db8::1)."},
        {CommandId::PolicyDel, "policy", "del", {"PATTERN"}, {}, {},
         "remove an address pattern",
         "Removes the pattern, given exactly as policy show lists it."},
        {CommandId::SettingsShow, "settings", "show", {}, {}, {},
         "show the server's settings",
         "Shows the values of ftpconfig.xml: listenip, ftpport, httpport, maxconn, pasvmode and welcomemsg, with "
         "what the server uses for one that is missing, then every optional value of the extensions, or "
         "'(not set: DEFAULT)' with what the server does without it. With TLS on (tls other than off, or webtls yes) also the certificate and key files the server uses "
         "and the certificate's SHA-256 fingerprint, or that the server makes them on its first start. With "
         "sftpport set also each SSH host key file and its SHA-256 fingerprint (SHA256:..., as SFTP clients show "
         "it), or that the server makes it on its first start."},
        {CommandId::SettingsSet, "settings", "set", {"KEY", "VALUE"}, settingKeyNames(false), {},
         "change one setting",
         "Sets one value of ftpconfig.xml; every other element of the file stays. A value the server could not "
         "use is refused, and so is ftpext no while listenip is an IPv6 address. The server reads the file when it starts: "
         "restart it to apply the change. 'settings unset KEY' takes an optional value away again.",
         settableKeys()},
        {CommandId::SettingsUnset, "settings", "unset", {"KEY"}, settingKeyNames(true), {},
         "take an optional setting away",
         "Removes the element of an optional value (one of the extensions) from ftpconfig.xml, so the server "
         "uses its default again; nothing is written when the file does not have it. The six values of every "
         "file cannot be unset, only set. Restart the server to apply the change.",
         optionalKeys()},
        {CommandId::Status, "", "status", {}, {}, {},
         "show the running server's status",
         "Shows whether a server runs and, when it does, its listen address, FTP and web ports, connection "
         "limit, live FTP connections and start time, as the console's panel does."},
        {CommandId::Reload, "", "reload", {"users|policy|log|tls"}, {"users", "policy"}, {},
         "make the running server reload a file",
         "Asks the running server to read ftpusers.xml (users) or ftpaccess.xml (policy) again, to open its "
         "transfer log (<xferlog>) again after it was rotated (log), or to load its certificate and key files "
         "again after they were renewed (tls: new connections get the new pair, live ones keep theirs; a pair "
         "that cannot be loaded is refused with its reason and the one in use stays), at its next loop turn. The "
         "user and policy commands ask for this themselves.",
         {},
         {"log", "tls"}},
        {CommandId::Stop, "", "stop", {}, {}, {},
         "stop the running server",
         "Signals the running server to stop and waits until it has. For the service, corveld -e does the "
         "same through systemd."},
        {CommandId::Sessions, "", "sessions", {}, {}, {},
         "list the running server's live sessions",
         "Lists the running server's live FTP and SFTP sessions and web connections: the id kick takes, the "
         "protocol (ftp, sftp or web), the account (- before a login), the client's address, since when, and the "
         "bytes moved (of an FTP session its transfers, the running one as far as it came; of an SFTP session or "
         "a web connection what its connection carried)."},
        {CommandId::Kick, "", "kick", {"ID"}, {}, {{"--user", "NAME", "close every session of that account", false, ""}},
         "close live sessions",
         "Closes the running server's session with that id (from corvelctl sessions), or with --user every "
         "session of that account, FTP, SFTP and web: their connections end at once, a running transfer too. Says "
         "how many were closed; none is a refusal.",
         {},
         {},
         1},
        {CommandId::ShareList, "share", "list", {}, {},
         {{"--user", "NAME", "list only the links of that account", false, ""}},
         "list the web client's share links",
         "Lists the share links of ftpshares.xml (<webapp>yes): id, owner, kind (file, folder or dropbox), path "
         "from the owner's home, expiry, whether a password guards it, uses so far of the most allowed, and its "
         "state now (active, expired, used up, or not working because the owner is disabled, removed or lacks "
         "the right). The links themselves are not stored, only their SHA-256, so they cannot be listed."},
        {CommandId::ShareAdd, "share", "add", {"OWNER", "PATH"}, {},
         {{"--dropbox", "", "an upload-only link to a folder: visitors send files and see nothing", false, ""},
          {"--expires", "DATE", "the last day (YYYY-MM-DD, UTC) the link works", false, ""},
          {"--max-downloads", "N", "downloads the link allows (for a drop box: files it takes)", false, ""},
          {"--password", "", "guard the link with a password, asked for twice on the terminal", false,
           "--password-stdin"},
          {"--password-stdin", "", "guard the link with a password read as one line from standard input", false,
           "--password"},
          {"--url", "BASE", "print the link after this address, e.g. https://files.example.com", false, ""}},
         "make a share link",
         "Makes a link to the file or folder at PATH in OWNER's home, with OWNER's rights at the time of each "
         "use: Read for a file, List (and Read to download) for a folder, Write and Create for a drop box. The "
         "link is printed once (as /app/s/TOKEN, or after --url); only its SHA-256 is stored. The server serves "
         "it under <webapp>yes, with no reload."},
        {CommandId::ShareRevoke, "share", "revoke", {"ID"}, {}, {},
         "revoke a share link",
         "Removes the link with that id (from share list): it stops working at once."},
    };
}

const CommandEntry* findCommand(std::string_view group, std::string_view name) {
    for (const CommandEntry& entry : commandTable())
        if (entry.group == group && entry.name == name) return &entry;
    return nullptr;
}

bool isGroup(std::string_view word) {
    for (const CommandEntry& entry : commandTable())
        if (!entry.group.empty() && entry.group == word) return true;
    return false;
}

std::string commandName(const CommandEntry& entry) {
    return entry.group.empty() ? std::string(entry.name) : std::string(entry.group) + " " + std::string(entry.name);
}

std::string synopsis(const CommandEntry& entry) {
    std::string text = "corvelctl [--dir PROGRAM_DIR] [--json] " + commandName(entry);
    for (std::string_view operand : entry.operands) text += " " + std::string(operand);
    for (const OptionEntry& option : entry.options) {
        std::string shown(option.name);
        if (!option.valueName.empty()) shown += " " + std::string(option.valueName);
        text += option.required ? " " + shown : " [" + shown + "]";
    }
    return text;
}

// Width the help texts are wrapped to.
constexpr std::size_t kHelpWidth = 79;

// text broken at blanks into lines of at most kHelpWidth, the first starting after
// a lead of firstColumn characters already written, the others after indent blanks.
std::string wrapped(std::string_view text, std::size_t firstColumn, std::size_t indent) {
    std::string out;
    std::size_t column = firstColumn;
    bool lineEmpty = true;
    while (!text.empty()) {
        const std::size_t end = text.find(' ');
        const std::string_view word = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (word.empty()) continue;
        if (!lineEmpty && column + 1 + word.size() > kHelpWidth) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        lineEmpty = false;
    }
    return out;
}

constexpr char kGlobalOptions[] =
    "Options of every command:\n"
    "  --dir PROGRAM_DIR  the program directory: where corveld and its XML files are\n"
    "                     (default: the directory of corvelctl)\n"
    "  --json             list, show and status print JSON\n"
    "  -h, --help         print the help of the command and exit\n";

std::string commandHelp(const CommandEntry& entry) {
    std::string text = "Usage: " + wrapped(synopsis(entry), 7, 11) + "\n\n" + wrapped(entry.description, 0, 0) + "\n";
    if (!entry.options.empty()) {
        text += "\nOptions:\n";
        for (const OptionEntry& option : entry.options) {
            std::string shown = "  " + std::string(option.name);
            if (!option.valueName.empty()) shown += " " + std::string(option.valueName);
            shown.resize(std::max<std::size_t>(shown.size() + 2, 24), ' ');
            text += shown + wrapped(option.help, shown.size(), 24) + "\n";
        }
    }
    if (!entry.keys.empty()) {
        text += "\nKeys:\n";
        for (const auto& [name, help] : entry.keys) {
            std::string shown = "  " + std::string(name);
            shown.resize(std::max<std::size_t>(shown.size() + 2, 15), ' ');
            text += shown + wrapped(help, shown.size(), 15) + "\n";
        }
    }
    return text + "\n" + kGlobalOptions;
}

std::string commandList(std::string_view group) {
    std::string text;
    for (const CommandEntry& entry : commandTable()) {
        if (!group.empty() && entry.group != group && !entry.group.starts_with(std::string(group) + " ")) continue;
        std::string shown = "  " + commandName(entry);
        for (std::string_view operand : entry.operands) shown += " " + std::string(operand);
        shown.resize(std::max<std::size_t>(shown.size() + 2, 30), ' ');
        text += shown + std::string(entry.summary) + "\n";
    }
    return text;
}

std::string groupHelp(std::string_view group) {
    return "Usage: corvelctl [--dir PROGRAM_DIR] [--json] " + std::string(group) + " COMMAND ...\n\nCommands:\n" +
           commandList(group) + "\nRun 'corvelctl " + std::string(group) + " COMMAND --help' for one of them.\n";
}

std::string programHelp() {
    return "Usage: corvelctl [--dir PROGRAM_DIR] [--json] COMMAND ...\n\n"
           "Administers CorvelFtp from a shell: the accounts (ftpusers.xml), the IP access policy\n"
           "(ftpaccess.xml) and the settings (ftpconfig.xml) in the program directory, and the\n"
           "running server.\n\nCommands:\n" +
           commandList("") + "\n" + kGlobalOptions +
           "\nExit status: 0 done, 1 refused (the reason is on standard error), 2 usage error.\n"
           "Run 'corvelctl COMMAND --help' for a command's options; see also corvelctl(1).\n";
}

const OptionEntry* findOption(const CommandEntry& entry, std::string_view name) {
    for (const OptionEntry& option : entry.options)
        if (option.name == name) return &option;
    return nullptr;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : ", ") + word;
    return text;
}

std::vector<std::string> verbsOf(std::string_view group) {
    std::vector<std::string> verbs;
    const std::string prefix = std::string(group) + " ";
    for (const CommandEntry& entry : commandTable()) {
        if (entry.group == group) {
            verbs.emplace_back(entry.name);
        } else if (entry.group.starts_with(prefix)) {
            // A group within the group ("user key") is named once.
            const std::string inner(entry.group.substr(prefix.size()));
            if (std::find(verbs.begin(), verbs.end(), inner) == verbs.end()) verbs.push_back(inner);
        }
    }
    return verbs;
}

}  // namespace

const std::vector<CommandEntry>& commandTable() {
    static const std::vector<CommandEntry> table = buildTable();
    return table;
}

bool Invocation::has(std::string_view option) const { return value(option) != nullptr; }

const std::string* Invocation::value(std::string_view option) const {
    const std::string* found = nullptr;
    for (const auto& [name, text] : options)
        if (name == option) found = &text;
    return found;
}

ParsedArguments parseArguments(const std::vector<std::string>& arguments) {
    ParsedArguments parsed;
    Invocation& invocation = parsed.invocation;
    std::string group;
    const CommandEntry* entry = nullptr;
    bool help = false;
    bool optionsEnded = false;
    bool lost = false;  // after an unknown command, words mean nothing; --help is still looked for
    std::string error;  // the first one; --help still wins
    auto fail = [&error](std::string text) {
        if (error.empty()) error = std::move(text);
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            std::string name = argument;
            std::optional<std::string> inlineValue;
            if (const std::size_t equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
                name = argument.substr(0, equals);
                inlineValue = argument.substr(equals + 1);
            }
            // A value-taking option takes the rest after '=' or the next argument.
            auto takeValue = [&](std::string& out) {
                if (inlineValue) {
                    out = *inlineValue;
                    return true;
                }
                if (i + 1 < arguments.size()) {
                    out = arguments[++i];
                    return true;
                }
                fail(name + " needs a value");
                return false;
            };
            if (name == "-h" || name == "--help") {
                help = true;
            } else if (name == "--json") {
                if (inlineValue) fail("--json takes no value");
                invocation.json = true;
            } else if (name == "--dir") {
                std::string directory;
                if (takeValue(directory)) invocation.programDirectory = directory;
            } else if (const OptionEntry* option = entry ? findOption(*entry, name) : nullptr) {
                std::string value;
                if (option->valueName.empty()) {
                    if (inlineValue) fail(name + " takes no value");
                    invocation.options.emplace_back(name, std::string());
                } else if (takeValue(value)) {
                    invocation.options.emplace_back(name, value);
                }
            } else if (entry) {
                fail("unknown option '" + name + "' for 'corvelctl " + commandName(*entry) + "'");
            } else {
                fail("unknown option '" + name + "'");
            }
            continue;
        }
        if (lost) continue;
        if (entry) {
            invocation.operands.push_back(argument);
        } else if (!group.empty()) {
            entry = findCommand(group, argument);
            if (!entry && isGroup(group + " " + argument)) {
                group += " " + argument;  // "user key", then its command
                continue;
            }
            if (!entry) {
                fail("unknown command '" + group + " " + argument + "' (" + group + " takes: " + joined(verbsOf(group)) +
                     ")");
                lost = true;
            }
        } else if (isGroup(argument)) {
            group = argument;
        } else {
            entry = findCommand("", argument);
            if (!entry) {
                fail("unknown command '" + argument + "'");
                lost = true;
            }
        }
    }

    if (help) {
        parsed.outcome = ParseOutcome::Help;
        parsed.text = entry ? commandHelp(*entry) : !group.empty() ? groupHelp(group) : programHelp();
        return parsed;
    }
    if (error.empty() && !entry)
        fail(group.empty() ? std::string("no command given")
                           : "'" + group + "' needs a command: " + joined(verbsOf(group)));
    if (error.empty()) {
        if (invocation.operands.size() < entry->operands.size() - entry->optionalOperands)
            fail("'corvelctl " + commandName(*entry) + "' needs " +
                 std::string(entry->operands[invocation.operands.size()]));
        else if (invocation.operands.size() > entry->operands.size())
            fail("unexpected argument '" + invocation.operands[entry->operands.size()] + "'");
    }
    if (error.empty() && entry->id == CommandId::UserSet && invocation.options.empty())
        fail("nothing to change: give --home, --rights, --welcome, --description, --disable or --enable");
    if (error.empty() && !entry->choices.empty()) {
        bool known = false;
        for (const std::string& choice : entry->choices) known = known || invocation.operands[0] == choice;
        for (const std::string& choice : entry->extensionChoices) known = known || invocation.operands[0] == choice;
        if (!known)
            fail("'corvelctl " + commandName(*entry) + "' takes one of " + joined(entry->choices) + ", not '" +
                 invocation.operands[0] + "'" +
                 (entry->extensionChoices.empty()
                      ? std::string()
                      : " (for the extensions also " + joined(entry->extensionChoices) + ")"));
    }
    if (error.empty()) {
        for (const OptionEntry& option : entry->options) {
            if (option.required && !invocation.has(option.name))
                fail("'corvelctl " + commandName(*entry) + "' needs " + std::string(option.name) + " " +
                     std::string(option.valueName));
            else if (!option.excludes.empty() && invocation.has(option.name) && invocation.has(option.excludes))
                fail(std::string(option.name) + " and " + std::string(option.excludes) + " exclude each other");
        }
    }
    if (!error.empty()) {
        parsed.outcome = ParseOutcome::UsageError;
        parsed.text = error;
        return parsed;
    }
    invocation.command = entry->id;
    parsed.outcome = ParseOutcome::Run;
    return parsed;
}

}  // namespace corvel
