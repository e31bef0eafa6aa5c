// What every SFTP connection of a run shares: the account tables, the guards and the
// connection limits, the same objects the FTP sessions use.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvel {

class AccessPolicy;
class BanList;
class LogSink;
class LiveSessions;
class LoginGuard;
class SessionAdmission;
class TransferLog;
class UserTable;

struct SftpContext {
    UserTable& users;  // authenticate may store a password in its new form
    const AccessPolicy& policy;
    const LoginGuard& logins;
    LogSink& log;
    // Live sessions: SFTP counts in the FTP sessions' numbers (maxconn), so both
    // protocols together stay within what the server was sized for.
    std::atomic<int>& activeConnections;
    std::uint32_t maxConnections = 256;
    BanList* bans = nullptr;
    SessionAdmission* sessions = nullptr;  // <maxperip>, <maxprelogin>, and closing on a ban
    std::uint32_t maxPerAddress = 0;
    std::uint32_t maxLoginPerAddress = 0;
    TransferLog* transferLog = nullptr;    // <xferlog>: a line per file handle closed
    LiveSessions* liveSessions = nullptr;  // corvelctl sessions and kick
};

}  // namespace corvel
