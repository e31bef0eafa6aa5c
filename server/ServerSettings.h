// The values of ftpconfig.xml, read once per server run: the six of every file and
// the optional elements of the extensions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "accounts/StoredPassword.h"
#include "platform/Socket.h"
#include "config/TlsMode.h"
#include "tls/TlsServer.h"

namespace corvel {

class LogSink;

// Web connections served at once when ftpconfig.xml does not say.
constexpr std::uint32_t kDefaultMaxWebConnections = 256;

// Connections one address may hold at once on the web port (<webmaxperip>), and FTP
// connections of one address not logged in yet (<maxprelogin>), while the files
// do not say: far above what a browser or an FTP client opens, far below what
// would let one address hold every slot.
constexpr std::uint32_t kDefaultWebMaxPerAddress = 16;
constexpr std::uint32_t kDefaultMaxLoginPerAddress = 8;

// Defaults of the ban settings when <banfailures> turns bans on.
constexpr std::uint32_t kDefaultBanWindowMinutes = 10;
constexpr std::uint32_t kDefaultBanMinutes = 15;

struct ServerSettings {
    std::string listenAddress;  // empty: all interfaces
    std::uint16_t ftpPort = 21;
    std::uint16_t webPort = 8080;
    std::uint32_t maxConnections = 256;
    bool passiveMode = true;
    std::string welcomeMessage;
    // <maxwebconn>: simultaneous web connections; a new one past it is closed at once.
    std::uint32_t maxWebConnections = kDefaultMaxWebConnections;

    // The extensions, each off while its element is absent.
    TlsMode tls = TlsMode::Off;
    std::string tlsCertificate;  // <tlscert>: PEM file, relative to the program directory unless absolute
    std::string tlsKey;          // <tlskey>
    bool webTls = false;         // <webtls>yes: the web port speaks HTTPS only
    bool tlsReuse = true;        // <tlsreuse>no: protected data connections need not resume the control session
    std::optional<PortRange> passivePorts;  // <pasvports>
    std::string passiveAddress;             // <pasvaddress>: address or host name written in 227 for public peers
    bool ftpExtensions = false;             // <ftpext>yes: FEAT, EPSV, EPRT, MLSD, MLST, MDTM, MFMT, ...
    std::uint32_t banFailures = 0;          // <banfailures>: failed logins that ban an address; 0: no bans
    std::uint32_t banWindowMinutes = kDefaultBanWindowMinutes;  // <banwindow>
    std::uint32_t banMinutes = kDefaultBanMinutes;              // <banminutes>
    std::uint32_t maxPerAddress = 0;        // <maxperip>: FTP connections from one address; 0: no limit
    // <maxprelogin>: FTP connections of one address not logged in yet; 0: no limit.
    std::uint32_t maxLoginPerAddress = kDefaultMaxLoginPerAddress;
    // <webmaxperip>: web connections of one address at once; 0: no limit.
    std::uint32_t webMaxPerAddress = kDefaultWebMaxPerAddress;
    bool webPolicy = false;                 // <webpolicy>yes: the access policy and the rights apply to the web
    bool webExtensions = false;             // <webext>yes: Range requests and HEAD on downloads
    bool webApp = false;                    // <webapp>yes: the web client under /app/
    std::string webCharset;                 // <webcharset>: the character set pages declare; empty: none
    std::vector<std::string> proxyFrom;     // <proxyfrom>: balancers whose connections start with a PROXY header
    PasswordScheme passwordScheme = PasswordScheme::Designed;  // <passwordhash>argon2id: new passwords as Argon2id
    // <xferlog>: the transfer log, relative to the program directory unless absolute; empty: none.
    std::string transferLog;
    std::uint16_t sftpPort = 0;             // <sftpport>: the SFTP port; 0: no SFTP
    std::string sftpListenAddress;          // <sftplistenip>: empty: the FTP listen address
    std::vector<std::string> sftpHostKeys;  // <sftphostkey>: the key files; empty: the made ones

    // What was wrong with extension elements ("<tls>: ..."); a run refuses to start
    // while there is any, since a mistyped security setting must not pass unnoticed.
    std::vector<std::string> problems;
};

// Reads programDirectory + "ftpconfig.xml" into settings, writing the default file
// first when it cannot be loaded (a damaged one is kept as ftpconfig.xml.broken,
// which log is told). Returns false, changing nothing, when the document has no
// root element.
bool loadSettings(const std::string& programDirectory, ServerSettings& settings, LogSink* log = nullptr);

// Applies the document text's values to settings, as loadSettings does.
bool applySettingsDocument(const std::string& documentText, ServerSettings& settings);

}  // namespace corvel
