// What every corvelctl command runs with (its invocation, the program directory,
// the output streams, the password source) and the ways it ends.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "admin/ReloadRequest.h"
#include "ctl/Arguments.h"
#include "ctl/PasswordSource.h"

namespace corvel {

// Exit statuses.
inline constexpr int kExitDone = 0;
inline constexpr int kExitRefused = 1;  // one line on standard error says why
inline constexpr int kExitUsage = 2;    // the message and the --help hint on standard error

// The streams and the password source of one run; owned by the caller.
struct CtlIo {
    std::ostream& out;
    std::ostream& err;
    PasswordSource& passwords;
};

// Owned by one run of one command.
struct CommandContext {
    const Invocation& invocation;
    std::string programDirectory;  // ends with '/'
    CtlIo& io;

    std::string path(const char* fileName) const { return programDirectory + fileName; }
    const std::string& operand(std::size_t index) const { return invocation.operands[index]; }

    // Writes "corvelctl: why" as the one line on standard error; returns kExitRefused.
    int refuse(const std::string& why) const;
    // Writes a usage error with the --help hint; returns kExitUsage.
    int usageError(const std::string& why) const;
    // Writes "corvelctl: warning: text" on standard error; the command goes on.
    void warn(const std::string& text) const;

    // The new password, asked twice on the terminal or read from standard input
    // (--password-stdin), checked as the console's user dialog checks it: equal
    // twice, not empty. nullopt when refused (*exitCode set, the reason written).
    std::optional<std::string> newPassword(int* exitCode) const;

    // Asks a running server to reload fileName (bit ReloadUsers or ReloadAccess)
    // after a change was saved, and says so: a line when it was asked, nothing
    // when no server runs (it reads the file at its start). A control block that
    // stayed locked is refused (the file is saved all the same).
    int requestReloadAfterSave(std::uint32_t bit, const char* fileName) const;
};

// Why a file of the program directory could not be read, for the refusal line:
// "/dir/ftpusers.xml cannot be read (Error reading end tag. at line 3); it is left as it is".
std::string unreadableFileText(const std::string& path, const std::string& reason, int line);

}  // namespace corvel
