// What every FTP session of one server run shares: settings, tables, the live count.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <optional>

#include "ftp/PassiveAddress.h"
#include "platform/Socket.h"
#include "config/TlsMode.h"
#include "tls/TlsServer.h"

namespace corvel {

class UserTable;
class AccessPolicy;
class LoginGuard;
class BanList;
class SessionAdmission;
class TransferLog;
class LiveSessions;

// A connection that has not logged in this long after its greeting is closed (with
// a 421 reply), so connections that never log in cannot pile up; a client that
// logs in as it should never meets it.
constexpr std::chrono::milliseconds kLoginDeadline{60000};

// Owned by the server; outlives every session. The tables are thread-safe; the
// settings fields are read-only once sessions exist.
struct FtpContext {
    UserTable& users;
    AccessPolicy& policy;
    std::atomic<int>& activeConnections;  // live FTP sessions; each session counts itself
    const LoginGuard& logins;             // every PASS is reported here
    std::uint32_t maxConnections = 256;
    bool passiveMode = true;
    std::string welcomeMessage;
    std::int64_t startTime = 0;  // seconds since 1970 UTC

    // The extensions; all off unless ftpconfig.xml turns them on.
    TlsMode tlsMode = TlsMode::Off;
    std::shared_ptr<const TlsServer> tls;  // set whenever tlsMode is not Off
    bool tlsReuse = true;                  // protected data connections must resume the control session
    bool ftpExtensions = false;            // FEAT, EPSV, EPRT, MLSD, MLST, MDTM, MFMT, names-only NLST
    std::optional<PortRange> passivePorts;             // <pasvports>: passive listeners only in this range
    std::shared_ptr<const PassiveAddress> passiveAddress;  // <pasvaddress>; null: the control connection's own
    BanList* bans = nullptr;               // banned addresses are turned away (<banfailures>)
    SessionAdmission* sessions = nullptr;  // every session takes its place here
    std::uint32_t maxPerAddress = 0;       // <maxperip>: sessions one address may hold; 0: any number
    std::uint32_t maxLoginPerAddress = 0;  // <maxprelogin>: of them not logged in yet; 0: any number
    std::chrono::milliseconds loginDeadline = kLoginDeadline;  // tests shorten it
    TransferLog* transferLog = nullptr;    // <xferlog>: every RETR, STOR and APPE is a line there
    LiveSessions* liveSessions = nullptr;  // every greeted session is listed (corvelctl sessions, kick)
    std::atomic<int>* activeSends = nullptr;  // every RETR counts itself here while it sends (CrowdedSend)
};

}  // namespace corvel
