// Greeting, login and the small session commands.
#include <ctime>

#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {

void FtpSession::sendGreeting() {
    reply(replies::greeting(context_.welcomeMessage));
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
        context_.users.homeDirectoryOf(userName_, homeDirectory_);
        std::string welcome;
        context_.users.welcomeMessageOf(userName_, welcome);
        privileges_ = context_.users.privilegesOf(userName_);
        const long long uptime = static_cast<long long>(std::time(nullptr)) - context_.startTime;
        reply(replies::loggedIn(welcome, uptime, userName_));
        loginState_ = LoginState::LoggedIn;
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
    if (argument == "A" || argument == "a") {
        transferType_ = TransferType::Ascii;
        reply(replies::kTypeAscii);
    } else if (argument == "I" || argument == "i") {
        transferType_ = TransferType::Binary;
        reply(replies::kTypeBinary);
    } else {
        reply(replies::kNotImplementedForParameter);
    }
}

void FtpSession::handleNoop(const std::string&) { reply(replies::kCommandOkay); }
void FtpSession::handleHelp(const std::string&) { reply(replies::kHelp); }

void FtpSession::handleStat(const std::string&) {
    reply(replies::status(userName_, peerAddress_));
}

void FtpSession::handleRein(const std::string&) {
    privileges_ = 0;
    failedLogins_ = 0;
    currentDirectory_ = "/";
    restartOffset_ = 0;
    loginState_ = LoginState::None;
    transferType_ = TransferType::Binary;
    renameSource_.clear();
    userName_.clear();
    password_.clear();
    data_.close();
    sendGreeting();
}

void FtpSession::handleQuit(const std::string&) { reply(replies::kBye); }

}  // namespace corvel
