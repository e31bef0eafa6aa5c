// Greeting, login and the small session commands.
#include <cstdio>
#include <ctime>

#include "accounts/LoginGuard.h"
#include "accounts/UserTable.h"
#include "ftp/FtpSession.h"

namespace corvel {

static constexpr char kBanner[] = "CorvelFtp Server powered by Tessaly";

void FtpSession::sendGreeting() {
    if (context_.welcomeMessage.empty())
        reply(std::string("220 ") + kBanner + "\r\n");
    else
        reply(std::string("220- ") + kBanner + "\r\n220- " + context_.welcomeMessage + "\r\n220 \r\n");
}

void FtpSession::handleUser(const std::string& argument) {
    userName_ = argument;
    loginState_ = 1;
    reply("331 User name okay, need password.\r\n");
}

void FtpSession::handlePass(const std::string& argument) {
    password_ = argument;
    if (context_.users.authenticate(userName_, password_)) {
        context_.logins.succeeded(LoginService::Ftp, peerAddress_, userName_);
        context_.users.homeDirectoryOf(userName_, homeDirectory_);
        std::string welcome;
        context_.users.welcomeMessageOf(userName_, welcome);
        privileges_ = context_.users.privilegesOf(userName_);
        long long d = static_cast<long long>(std::time(nullptr)) - context_.startTime;
        char uptime[96];
        std::snprintf(uptime, sizeof uptime, "%lldh-%lldm-%llds", d / 3600, (d % 3600) / 60, d % 60);
        reply("230- " + welcome + "\r\n230- Service has run for " + uptime + "\r\n230 " + userName_ + " logged in.\r\n");
        loginState_ = 2;
        return;
    }
    // SECURITY: the reply waits (on this session's thread), so guessing is slow.
    context_.logins.failed(LoginService::Ftp, peerAddress_, userName_);
    ++failedLogins_;
    reply("530 Login incorrect.\r\n");
    // SECURITY: the tenth failure in one session ends it, slowing down guessing.
    if (failedLogins_ > kMaxFailedLogins) control_.close();
}

void FtpSession::handleSyst(const std::string&) { reply("215 UNIX Type: L8\r\n"); }

void FtpSession::handleType(const std::string& argument) {
    if (argument == "A" || argument == "a") {
        transferType_ = 1;
        reply("220 Type set to A\r\n");
    } else if (argument == "I" || argument == "i") {
        transferType_ = 2;
        reply("220 Type set to I\r\n");
    } else {
        reply("504 Command not implemented for that parameter.\r\n");
    }
}

void FtpSession::handleNoop(const std::string&) { reply("200 Command okay\r\n"); }
void FtpSession::handleHelp(const std::string&) { reply("214 help info\r\n"); }

void FtpSession::handleStat(const std::string&) {
    reply("211- Status for user " + userName_ + " from " + peerAddress_ + "\r\n211 End of status.\r\n");
}

void FtpSession::handleRein(const std::string&) {
    privileges_ = 0;
    failedLogins_ = 0;
    currentDirectory_ = "/";
    restartOffset_ = 0;
    loginState_ = 0;
    transferType_ = 2;
    renameSource_.clear();
    userName_.clear();
    password_.clear();
    data_.close();
    sendGreeting();
}

void FtpSession::handleQuit(const std::string&) { reply("221 bye\r\n"); }

}  // namespace corvel
