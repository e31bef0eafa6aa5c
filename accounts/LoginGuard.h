// What happens around every login attempt on the FTP, web and SFTP ports: a failure is
// answered only after a pause that slows guessing down, and every attempt leaves
// one line in the log in a fixed format that tools such as fail2ban can read.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace corvel {

class LogSink;
class BanList;

enum class LoginService { Ftp, Web, Sftp };

// A failed login is answered this much later (as vsftpd does). The pause runs on
// the connection's own thread, never on the listener.
constexpr std::chrono::milliseconds kFailedLoginDelay{1000};

// Shared by every connection of the process; thread-safe.
class LoginGuard {
public:
    // log may be null (nothing is written); failureDelay 0 answers at once; bans, when
    // given, counts every failure (and bans addresses past its rules).
    explicit LoginGuard(LogSink* log, std::chrono::milliseconds failureDelay = kFailedLoginDelay,
                        BanList* bans = nullptr);

    void succeeded(LoginService service, const std::string& address, std::string_view user) const;
    // Logs the failure, counts it against the address, then waits failureDelay on the
    // calling thread.
    void failed(LoginService service, const std::string& address, std::string_view user) const;

private:
    LogSink* log_;
    std::chrono::milliseconds failureDelay_;
    BanList* bans_;
};

// The log line of one attempt, for example
//   login failed: service=ftp address=192.0.2.7 user="alice"
// The address comes before the user name, which the client chose: bytes outside
// printable ASCII, '"' and '\' in it are written as \xHH, so a name can neither end
// the line nor fake another address.
std::string loginLogLine(bool success, LoginService service, const std::string& address, std::string_view user);

// text in double quotes, with the escapes of loginLogLine's user name.
std::string quotedForLog(std::string_view text);

}  // namespace corvel
