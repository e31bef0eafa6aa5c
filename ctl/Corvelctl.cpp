#include "ctl/Corvelctl.h"

#include "ctl/PolicyCommands.h"
#include "ctl/ServerCommands.h"
#include "ctl/SessionCommands.h"
#include "ctl/SettingsCommands.h"
#include "ctl/ShareCommands.h"
#include "ctl/UserCommands.h"
#include "platform/FileSystem.h"

namespace corvel {
namespace {

int run(const CommandContext& context) {
    switch (context.invocation.command) {
        case CommandId::UserList: return listUsers(context);
        case CommandId::UserAdd: return addUser(context);
        case CommandId::UserPasswd: return changePassword(context);
        case CommandId::UserSet: return changeUser(context);
        case CommandId::UserDel: return removeUser(context);
        case CommandId::UserKeyAdd: return addUserKeys(context);
        case CommandId::UserKeyList: return listUserKeys(context);
        case CommandId::UserKeyDel: return removeUserKey(context);
        case CommandId::PolicyShow: return showPolicy(context);
        case CommandId::PolicyMode: return setPolicyMode(context);
        case CommandId::PolicyAdd: return addPattern(context);
        case CommandId::PolicyDel: return removePattern(context);
        case CommandId::SettingsShow: return showSettings(context);
        case CommandId::SettingsSet: return setSetting(context);
        case CommandId::SettingsUnset: return unsetSetting(context);
        case CommandId::Status: return showStatus(context);
        case CommandId::Reload: return reloadFile(context);
        case CommandId::Stop: return stopServer(context);
        case CommandId::Sessions: return listSessions(context);
        case CommandId::Kick: return kickSessions(context);
        case CommandId::ShareList: return listShares(context);
        case CommandId::ShareAdd: return addShare(context);
        case CommandId::ShareRevoke: return revokeShare(context);
    }
    return kExitUsage;
}

// The commands that work on the files of the program directory.
bool usesProgramDirectory(CommandId command) {
    return command != CommandId::Status && command != CommandId::Reload && command != CommandId::Stop &&
           command != CommandId::Sessions && command != CommandId::Kick;
}

}  // namespace

int runCorvelctl(const std::vector<std::string>& arguments, const std::string& defaultProgramDirectory, CtlIo& io) {
    const ParsedArguments parsed = parseArguments(arguments);
    if (parsed.outcome == ParseOutcome::Help) {
        io.out << parsed.text;
        return kExitDone;
    }
    std::string directory = parsed.invocation.programDirectory.value_or(defaultProgramDirectory);
    if (directory.empty()) directory = "./";
    if (directory.back() != '/') directory += '/';
    const CommandContext context{parsed.invocation, directory, io};
    if (parsed.outcome == ParseOutcome::UsageError) return context.usageError(parsed.text);
    if (usesProgramDirectory(parsed.invocation.command) && queryEntry(directory).kind != EntryKind::Directory)
        return context.refuse("the program directory " + directory + " does not exist or is no directory");
    return run(context);
}

}  // namespace corvel
