#include "accounts/LoginGuard.h"

#include <cstdio>
#include <thread>

#include "accounts/BanList.h"
#include "platform/SystemLog.h"

namespace corvel {

std::string quotedForLog(std::string_view text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        // SECURITY: the name is the client's text; it must not be able to end the
        // line, close the quotes or reach a terminal as a control sequence.
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    quoted += '"';
    return quoted;
}

std::string loginLogLine(bool success, LoginService service, const std::string& address, std::string_view user) {
    std::string line = success ? "login succeeded: service=" : "login failed: service=";
    switch (service) {
        case LoginService::Ftp: line += "ftp"; break;
        case LoginService::Web: line += "web"; break;
        case LoginService::Sftp: line += "sftp"; break;
    }
    line += " address=";
    line += address.empty() ? "unknown" : address;
    line += " user=";
    line += quotedForLog(user);
    return line;
}

LoginGuard::LoginGuard(LogSink* log, std::chrono::milliseconds failureDelay, BanList* bans)
    : log_(log), failureDelay_(failureDelay), bans_(bans) {}

void LoginGuard::succeeded(LoginService service, const std::string& address, std::string_view user) const {
    if (log_) log_->write(LogSeverity::Information, loginLogLine(true, service, address, user));
}

void LoginGuard::failed(LoginService service, const std::string& address, std::string_view user) const {
    if (log_) log_->write(LogSeverity::Warning, loginLogLine(false, service, address, user));
    if (bans_) (void)bans_->recordFailure(address);
    if (failureDelay_.count() > 0) std::this_thread::sleep_for(failureDelay_);
}

}  // namespace corvel
