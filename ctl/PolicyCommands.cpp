#include "ctl/PolicyCommands.h"

#include <algorithm>
#include <functional>

#include "config/AccessFile.h"
#include "config/AddressPattern.h"
#include "common/XmlFiles.h"
#include "ctl/JsonWriter.h"
#include "ctl/TextTable.h"

namespace corvel {
namespace {

// The file's mode and patterns, as the console's dialog shows them.
struct Policy {
    AccessMode mode = AccessMode::NoTable;  // NoTable: no mode chosen yet ("unset")
    std::vector<std::string> patterns;
};

// What a change made of the policy: the reason it is refused, or nullopt.
using PolicyChange = std::function<std::optional<std::string>(Policy& policy)>;

const char* modeWord(AccessMode mode) {
    switch (mode) {
        case AccessMode::Reject: return "reject";
        case AccessMode::Permit: return "permit";
        case AccessMode::NoTable: break;
    }
    return "unset";
}

struct PolicyFile {
    std::optional<AccessFile> file;  // nullopt: refused
    Policy policy;
};

// Reads the file: a missing one is the default document with no mode chosen; an
// unreadable one is refused and never rewritten.
PolicyFile readPolicyFile(const CommandContext& context, int* exitCode) {
    const std::string path = context.path(kAccessFileName);
    PolicyFile read;
    AccessFile file = AccessFile::read(path);
    if (file.status() == FileRead::Unreadable) {
        *exitCode = context.refuse(unreadableFileText(path, file.error(), file.errorLine()));
        return read;
    }
    if (file.status() == FileRead::Missing) {
        read.file.emplace(AccessFile::defaultDocument());
    } else {
        read.policy.mode = file.mode();
        read.file.emplace(std::move(file));
    }
    read.policy.patterns = read.file->patterns();
    return read;
}

int editPolicy(const CommandContext& context, const PolicyChange& change, const std::string& done) {
    int exitCode = kExitRefused;
    const std::string path = context.path(kAccessFileName);
    PolicyFile read = readPolicyFile(context, &exitCode);
    if (!read.file) return exitCode;
    Policy& policy = read.policy;
    if (std::optional<std::string> refused = change(policy)) return context.refuse(*refused);
    AccessFile next = read.file->copy();
    // As the console: a policy with no mode chosen is saved as a reject list.
    next.setPolicy(policy.mode == AccessMode::Permit ? AccessMode::Permit : AccessMode::Reject, policy.patterns);
    if (!next.save(path)) return context.refuse(path + " could not be written; nothing was changed");
    context.io.out << done << "\n";
    if (policy.mode == AccessMode::Permit && policy.patterns.empty())
        context.io.out << "Note: the permit list is empty, so every FTP connection is refused until a pattern "
                          "is added.\n";
    return context.requestReloadAfterSave(ReloadAccess, kAccessFileName);
}

bool contains(const std::vector<std::string>& patterns, const std::string& pattern) {
    return std::find(patterns.begin(), patterns.end(), pattern) != patterns.end();
}

}  // namespace

int showPolicy(const CommandContext& context) {
    int exitCode = kExitRefused;
    const PolicyFile read = readPolicyFile(context, &exitCode);
    if (!read.file) return exitCode;
    const Policy& policy = read.policy;
    if (context.invocation.json) {
        JsonWriter json;
        json.beginObject().key("mode").string(modeWord(policy.mode)).key("patterns").beginArray();
        for (const std::string& pattern : policy.patterns) json.string(pattern);
        json.endArray().endObject();
        context.io.out << json.text() << "\n";
        return kExitDone;
    }
    context.io.out << "mode: " << modeWord(policy.mode) << "\n";
    context.io.out << (policy.patterns.empty() ? "patterns: none\n" : "patterns:\n");
    for (const std::string& pattern : policy.patterns) context.io.out << "  " << displayText(pattern) << "\n";
    return kExitDone;
}

int setPolicyMode(const CommandContext& context) {
    const bool permit = context.operand(0) == "permit";
    return editPolicy(
        context,
        [permit](Policy& policy) -> std::optional<std::string> {
            policy.mode = permit ? AccessMode::Permit : AccessMode::Reject;
            return std::nullopt;
        },
        std::string("The policy mode is ") + (permit ? "permit: only the listed addresses are admitted."
                                                     : "reject: the listed addresses are refused."));
}

int addPattern(const CommandContext& context) {
    const std::string& pattern = context.operand(0);
    return editPolicy(
        context,
        [&pattern](Policy& policy) -> std::optional<std::string> {
            if (pattern.empty()) return std::string("the pattern is empty");
            if (contains(policy.patterns, pattern)) return std::string("The IP already exist");
            if (std::optional<std::string> why = whyPatternNeverMatches(pattern))
                return "'" + displayText(pattern) + "' can never match an address: " + *why;
            policy.patterns.push_back(pattern);
            return std::nullopt;
        },
        "Added the pattern " + displayText(pattern) + ".");
}

int removePattern(const CommandContext& context) {
    const std::string& pattern = context.operand(0);
    return editPolicy(
        context,
        [&pattern](Policy& policy) -> std::optional<std::string> {
            auto found = std::find(policy.patterns.begin(), policy.patterns.end(), pattern);
            if (found == policy.patterns.end())
                return "no pattern '" + displayText(pattern) + "' in " + kAccessFileName;
            policy.patterns.erase(found);
            return std::nullopt;
        },
        "Removed the pattern " + displayText(pattern) + ".");
}

}  // namespace corvel
