// Greeting, login and the small session commands.
#include <ctime>

#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "common/AsciiText.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {
namespace {

enum class TypeChoice { Ascii, Binary, Unsupported, Missing };

// The type the standard dialect takes (RFC 959, 3.1.1 and 5.3.2), codes without
// case: A or A N (ASCII non-print), I, and L 8 (local bytes of eight bits, the same
// as I here). Telnet and carriage-control formats, E and other byte sizes are not
// supported.
TypeChoice standardTypeOf(const std::string& argument) {
    std::string words;
    for (char c : argument)
        if (c != ' ') words += asciiUpperOf(c);
    if (words.empty()) return TypeChoice::Missing;
    if (words == "A" || words == "AN") return TypeChoice::Ascii;
    if (words == "I" || words == "L8") return TypeChoice::Binary;
    return TypeChoice::Unsupported;
}

// The designed TYPE: "A", "a", "I" or "i" exactly.
TypeChoice designedTypeOf(const std::string& argument) {
    if (argument == "A" || argument == "a") return TypeChoice::Ascii;
    if (argument == "I" || argument == "i") return TypeChoice::Binary;
    return TypeChoice::Unsupported;
}

bool isLetter(const std::string& argument, char upper) {
    return argument.size() == 1 && asciiUpperOf(argument[0]) == upper;
}

}  // namespace

void FtpSession::sendGreeting() {
    reply(replies::greeting(dialect_, context_.welcomeMessage));
}

void FtpSession::handleUser(const std::string& argument) {
    userName_ = argument;
    loginState_ = LoginState::UserGiven;
    reply(replies::kUserOkay);
}

void FtpSession::handlePass(const std::string& argument) {
    password_ = argument;
    if (context_.users.authenticate(userName_, password_)) {
        context_.logins.succeeded(LoginService::Ftp, peerAddress_, userName_);
        // An account's home that cannot be read keeps the one from before, as it was.
        std::string home = files_.home();
        context_.users.homeDirectoryOf(userName_, home);
        files_.signIn(std::move(home), context_.users.privilegesOf(userName_));
        std::string welcome;
        context_.users.welcomeMessageOf(userName_, welcome);
        const long long uptime = static_cast<long long>(std::time(nullptr)) - context_.startTime;
        // The registry learns of the login before the client does, so a connection the
        // client opens on reading 230 already finds this one counted as logged in.
        loginState_ = LoginState::LoggedIn;
        if (!everLoggedIn_ && registration_) registration_->markLoggedIn();
        if (listed_) listed_->setUser(userName_);
        everLoggedIn_ = true;
        reply(replies::loggedIn(dialect_, welcome, uptime, userName_));
        return;
    }
    // SECURITY: the reply waits (on this session's thread), so guessing is slow.
    context_.logins.failed(LoginService::Ftp, peerAddress_, userName_);
    ++failedLogins_;
    reply(replies::kLoginIncorrect);
    // SECURITY: the tenth failure in one session ends it, slowing down guessing.
    if (failedLogins_ > kMaxFailedLogins) control_.close();
}

void FtpSession::handleSyst(const std::string&) { reply(replies::kSystem); }

void FtpSession::handleType(const std::string& argument) {
    switch (standard() ? standardTypeOf(argument) : designedTypeOf(argument)) {
        case TypeChoice::Ascii:
            transferType_ = TransferType::Ascii;
            reply(texts().typeAscii);
            return;
        case TypeChoice::Binary:
            transferType_ = TransferType::Binary;
            reply(texts().typeBinary);
            return;
        case TypeChoice::Missing: reply(replies::kSyntaxError); return;
        case TypeChoice::Unsupported: reply(replies::kNotImplementedForParameter); return;
    }
}

// Bytes always move as they are, in one stream and as one file: the only mode and
// structure there are.
void FtpSession::handleMode(const std::string& argument) {
    reply(isLetter(argument, 'S') ? replies::kModeStream : replies::kNotImplementedForParameter);
}

void FtpSession::handleStru(const std::string& argument) {
    reply(isLetter(argument, 'F') ? replies::kStructureFile : replies::kNotImplementedForParameter);
}

void FtpSession::handleAllo(const std::string&) { reply(replies::kNoAllocationNeeded); }

void FtpSession::handleNoop(const std::string&) { reply(replies::kCommandOkay); }
void FtpSession::handleHelp(const std::string&) { reply(replies::kHelp); }

void FtpSession::handleStat(const std::string&) {
    reply(replies::status(userName_, peerAddress_));
}

void FtpSession::handleRein(const std::string&) {
    files_.revokeRights();
    failedLogins_ = 0;
    files_.resetCurrentFolder();
    restartOffset_ = 0;
    loginState_ = LoginState::None;
    transferType_ = TransferType::Binary;
    renameSource_.clear();
    factSelection_ = {};
    userName_.clear();
    password_.clear();
    data_.close();
    sendGreeting();
}

void FtpSession::handleQuit(const std::string&) { reply(replies::kBye); }

}  // namespace corvel
