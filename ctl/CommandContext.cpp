#include "ctl/CommandContext.h"

#include "common/SharedBlocks.h"

namespace corvel {
namespace {

// Why a password line was not read, or empty when it was.
std::string lineProblem(const InputLine& line, const char* where) {
    switch (line.status) {
        case LineStatus::Read: return {};
        case LineStatus::EndOfInput: return std::string("no password on ") + where;
        case LineStatus::TooLong:
            return "the password is longer than " + std::to_string(kMaxPasswordBytes) + " bytes";
        case LineStatus::NoTerminal:
            return "standard input is no terminal to ask for the password on; give it with --password-stdin";
        case LineStatus::Failed: return std::string("the password could not be read from ") + where;
    }
    return "the password could not be read";
}

}  // namespace

int CommandContext::refuse(const std::string& why) const {
    io.err << "corvelctl: " << why << "\n";
    return kExitRefused;
}

int CommandContext::usageError(const std::string& why) const {
    io.err << "corvelctl: " << why << "\n" << kHelpHint << "\n";
    return kExitUsage;
}

void CommandContext::warn(const std::string& text) const { io.err << "corvelctl: warning: " << text << "\n"; }

std::optional<std::string> CommandContext::newPassword(int* exitCode) const {
    *exitCode = kExitRefused;
    std::string password;
    if (invocation.has("--password-stdin")) {
        InputLine line = io.passwords.readStandardInput();
        if (std::string problem = lineProblem(line, "standard input"); !problem.empty()) {
            refuse(problem);
            return std::nullopt;
        }
        password = std::move(line.text);
    } else {
        InputLine first = io.passwords.askHidden("Password: ");
        if (std::string problem = lineProblem(first, "the terminal"); !problem.empty()) {
            refuse(problem);
            return std::nullopt;
        }
        InputLine second = io.passwords.askHidden("Verify password: ");
        if (std::string problem = lineProblem(second, "the terminal"); !problem.empty()) {
            refuse(problem);
            return std::nullopt;
        }
        if (first.text != second.text) {
            refuse("Verify Password isn't equal with Password");
            return std::nullopt;
        }
        password = std::move(first.text);
    }
    if (password.empty()) {
        refuse("Password can not be empty");
        return std::nullopt;
    }
    *exitCode = kExitDone;
    return password;
}

int CommandContext::requestReloadAfterSave(std::uint32_t bit, const char* fileName) const {
    switch (requestReload(bit)) {
        case ReloadOutcome::Requested:
            io.out << "The running server reloads " << fileName << " at its next turn.\n";
            return kExitDone;
        case ReloadOutcome::NoServer: return kExitDone;
        case ReloadOutcome::TimedOut: break;
    }
    return refuse(std::string(fileName) + " was saved, but the running server's control block stayed locked for " +
                  std::to_string(kBlockMutexWaitMs / 1000) + " seconds; it reads the file at its next reload or start");
}

std::string unreadableFileText(const std::string& path, const std::string& reason, int line) {
    std::string detail = reason.empty() ? std::string("unknown error") : reason;
    if (line > 0) detail += " at line " + std::to_string(line);
    return path + " cannot be read (" + detail + "); it is left as it is";
}

}  // namespace corvel
