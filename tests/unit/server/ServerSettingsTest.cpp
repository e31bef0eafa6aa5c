#include <gtest/gtest.h>

#include "../accounts/TempProgramDirectory.h"
#include "platform/SystemLog.h"
#include "server/ConnectionLimits.h"
#include "config/ExtensionSettings.h"
#include "server/ServerSettings.h"
#include "server/TransferLogSetup.h"

#include <utility>
#include <vector>

namespace corvel {
namespace {

struct SettingsCase {
    const char* document;
    const char* listen;
    std::uint16_t ftpPort, webPort;
    std::uint32_t maxConnections;
    bool passive;
    const char* welcome;
};

TEST(ServerSettings, ParsingTable) {
    const SettingsCase cases[] = {
        {"<config><ftpport>2121</ftpport></config>", "", 2121, 8080, 256, true, ""},
        {"<x><listenip>127.0.0.1</listenip><ftpport></ftpport><httpport/><maxconn></maxconn></x>", "127.0.0.1", 21,
         8080, 256, true, ""},
        {"<c><maxconn>10 users</maxconn><pasvmode>yes</pasvmode></c>", "", 21, 8080, 10, true, ""},
        {"<c><ftpport>70000</ftpport><maxconn>-1</maxconn><pasvmode>Yes</pasvmode></c>", "", 4464, 8080, 4294967295u,
         false, ""},
        {"<c><ftpport>abc</ftpport><pasvmode></pasvmode><welcomemsg>Hi  there</welcomemsg></c>", "", 0, 8080, 256,
         false, "Hi there"},
        {"<c><pasvmode>true</pasvmode><welcomemsg><b>x</b></welcomemsg></c>", "", 21, 8080, 256, false, ""},
    };
    for (const SettingsCase& c : cases) {
        ServerSettings settings;
        ASSERT_TRUE(applySettingsDocument(c.document, settings)) << c.document;
        EXPECT_EQ(settings.listenAddress, c.listen) << c.document;
        EXPECT_EQ(settings.ftpPort, c.ftpPort) << c.document;
        EXPECT_EQ(settings.webPort, c.webPort) << c.document;
        EXPECT_EQ(settings.maxConnections, c.maxConnections) << c.document;
        EXPECT_EQ(settings.passiveMode, c.passive) << c.document;
        EXPECT_EQ(settings.welcomeMessage, c.welcome) << c.document;
    }
}

TEST(ServerSettings, MissingFileWritesTheDefaultDocument) {
    TempProgramDirectory dir;
    ServerSettings settings;
    ASSERT_TRUE(loadSettings(dir.directory(), settings));
    EXPECT_EQ(settings.ftpPort, 21);
    EXPECT_EQ(settings.webPort, 8080);
    EXPECT_EQ(settings.maxConnections, 32u);
    EXPECT_TRUE(settings.passiveMode);
    EXPECT_EQ(settings.welcomeMessage, "Welcome to my ftp server");
    EXPECT_NE(dir.read("ftpconfig.xml").find("<maxconn>32</maxconn>"), std::string::npos);
}

// Remembers what was logged.
struct RecordingLog : LogSink {
    void write(LogSeverity severity, const std::string& text) override { lines.push_back({severity, text}); }
    std::vector<std::pair<LogSeverity, std::string>> lines;
};

TEST(ServerSettings, MalformedFileIsKeptAsideAndSaidInTheLog) {
    TempProgramDirectory dir;
    dir.write("ftpconfig.xml", "<config><ftpport>2121");
    ServerSettings settings;
    RecordingLog log;
    ASSERT_TRUE(loadSettings(dir.directory(), settings, &log));
    EXPECT_EQ(settings.ftpPort, 21);
    EXPECT_EQ(dir.read("ftpconfig.xml.broken"), "<config><ftpport>2121");
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].first, LogSeverity::Error);
    EXPECT_NE(log.lines[0].second.find(dir.file("ftpconfig.xml") + " could not be read ("), std::string::npos);
    EXPECT_NE(log.lines[0].second.find(dir.file("ftpconfig.xml.broken")), std::string::npos);
    EXPECT_NE(log.lines[0].second.find("FTP port 21, web port 8080"), std::string::npos);
    // A good file says nothing.
    log.lines.clear();
    ASSERT_TRUE(loadSettings(dir.directory(), settings, &log));
    EXPECT_TRUE(log.lines.empty());
}

TEST(ServerSettings, WebConnectionLimitIsOptional) {
    for (auto [document, limit] : std::initializer_list<std::pair<const char*, std::uint32_t>>{
             {"<c></c>", 256}, {"<c><maxwebconn>40</maxwebconn></c>", 40}, {"<c><maxwebconn>0</maxwebconn></c>", 256},
             {"<c><maxwebconn>lots</maxwebconn></c>", 256}, {"<c><maxwebconn>-5</maxwebconn></c>", 256}}) {
        ServerSettings settings;
        ASSERT_TRUE(applySettingsDocument(document, settings));
        EXPECT_EQ(settings.maxWebConnections, limit) << document;
    }
}

TEST(ServerSettings, PerAddressLimitsHoldWithoutTheirElementsAndTheToolsNameTheSameDefaults) {
    ServerSettings plain;
    ASSERT_TRUE(applySettingsDocument("<c></c>", plain));
    EXPECT_EQ(plain.maxLoginPerAddress, kDefaultMaxLoginPerAddress);
    EXPECT_EQ(plain.webMaxPerAddress, kDefaultWebMaxPerAddress);
    EXPECT_EQ(std::to_string(kDefaultMaxLoginPerAddress), findExtensionElement("maxprelogin")->serverDefault);
    EXPECT_EQ(std::to_string(kDefaultWebMaxPerAddress), findExtensionElement("webmaxperip")->serverDefault);

    ServerSettings set;
    ASSERT_TRUE(applySettingsDocument("<c><maxprelogin>0</maxprelogin><webmaxperip>300</webmaxperip></c>", set));
    EXPECT_TRUE(set.problems.empty());
    EXPECT_EQ(set.maxLoginPerAddress, 0u);  // no limit
    EXPECT_EQ(set.webMaxPerAddress, 300u);
    // Taken away again, the defaults come back.
    ASSERT_TRUE(applySettingsDocument("<c></c>", set));
    EXPECT_EQ(set.maxLoginPerAddress, kDefaultMaxLoginPerAddress);
    EXPECT_EQ(set.webMaxPerAddress, kDefaultWebMaxPerAddress);
}

TEST(ServerSettings, ExtensionsAreOffUntilTheirElementsSayAndBadValuesAreProblems) {
    ServerSettings plain;
    ASSERT_TRUE(applySettingsDocument("<c><ftpport>21</ftpport></c>", plain));
    EXPECT_EQ(plain.tls, TlsMode::Off);
    EXPECT_FALSE(plain.webTls || plain.ftpExtensions || plain.webPolicy || plain.webExtensions);
    EXPECT_TRUE(plain.tlsReuse);
    EXPECT_FALSE(plain.passivePorts);
    EXPECT_EQ(plain.banFailures, 0u);
    EXPECT_TRUE(plain.proxyFrom.empty());
    EXPECT_TRUE(plain.problems.empty());

    ServerSettings all;
    ASSERT_TRUE(applySettingsDocument(
        "<c><tls>required</tls><tlscert>c.pem</tlscert><webtls>yes</webtls><tlsreuse>no</tlsreuse>"
        "<pasvports>50000-50099</pasvports><pasvaddress>ftp.example.org</pasvaddress><ftpext>yes</ftpext>"
        "<banfailures>5</banfailures><banwindow>3</banwindow><maxperip>4</maxperip><webpolicy>yes</webpolicy>"
        "<webext>yes</webext><proxyfrom>10.0.0.1, 10.0.0.* 192.168.?.1</proxyfrom></c>",
        all));
    EXPECT_TRUE(all.problems.empty());
    EXPECT_EQ(all.tls, TlsMode::Required);
    EXPECT_EQ(all.tlsCertificate, "c.pem");
    EXPECT_TRUE(all.webTls && !all.tlsReuse && all.ftpExtensions && all.webPolicy && all.webExtensions);
    EXPECT_EQ(all.passivePorts, (PortRange{50000, 50099}));
    EXPECT_EQ(all.passiveAddress, "ftp.example.org");
    EXPECT_EQ(all.banFailures, 5u);
    EXPECT_EQ(all.banWindowMinutes, 3u);
    EXPECT_EQ(all.banMinutes, kDefaultBanMinutes);
    EXPECT_EQ(all.maxPerAddress, 4u);
    EXPECT_EQ(all.proxyFrom, (std::vector<std::string>{"10.0.0.1", "10.0.0.*", "192.168.?.1"}));

    // A mistyped value never falls back silently.
    for (const char* bad : {"<c><tls>yes</tls></c>", "<c><webtls>true</webtls></c>", "<c><pasvports>5000</pasvports></c>",
                            "<c><pasvports>60000-50000</pasvports></c>", "<c><pasvports>1-70000</pasvports></c>",
                            "<c><banfailures>5x</banfailures></c>", "<c><banwindow>0</banwindow></c>",
                            "<c><proxyfrom> </proxyfrom></c>", "<c><tls></tls></c>"}) {
        ServerSettings settings;
        ASSERT_TRUE(applySettingsDocument(bad, settings)) << bad;
        EXPECT_EQ(settings.problems.size(), 1u) << bad;
    }
}

TEST(ServerSettings, PasswordHashTakesArgon2idOnlyAndIsOffWhenTakenAway) {
    ServerSettings settings;
    ASSERT_TRUE(applySettingsDocument("<c><passwordhash>argon2id</passwordhash></c>", settings));
    EXPECT_EQ(settings.passwordScheme, PasswordScheme::Argon2id);
    EXPECT_TRUE(settings.problems.empty());
    ASSERT_TRUE(applySettingsDocument("<c></c>", settings));
    EXPECT_EQ(settings.passwordScheme, PasswordScheme::Designed);
    for (const char* bad : {"md5", "", "Argon2id"}) {
        ASSERT_TRUE(applySettingsDocument(std::string("<c><passwordhash>") + bad + "</passwordhash></c>", settings));
        EXPECT_EQ(settings.problems, (std::vector<std::string>{std::string("<passwordhash>") + bad +
                                                               "</passwordhash> is not argon2id"}));
        EXPECT_EQ(settings.passwordScheme, PasswordScheme::Designed);
    }
}

TEST(ServerSettings, TransferLogIsAFileNameAndOffWhenTakenAway) {
    ServerSettings settings;
    ASSERT_TRUE(applySettingsDocument("<c><xferlog>logs/xferlog</xferlog></c>", settings));
    EXPECT_EQ(settings.transferLog, "logs/xferlog");
    EXPECT_EQ(transferLogPathOf(settings, "/opt/corvelftp/"), "/opt/corvelftp/logs/xferlog");
    ASSERT_TRUE(applySettingsDocument("<c><xferlog>/var/log/x</xferlog></c>", settings));
    EXPECT_EQ(transferLogPathOf(settings, "/opt/corvelftp/"), "/var/log/x");
    ASSERT_TRUE(applySettingsDocument("<c></c>", settings));
    EXPECT_EQ(settings.transferLog, "");
    EXPECT_EQ(transferLogPathOf(settings, "/opt/corvelftp/"), "");
    ASSERT_TRUE(applySettingsDocument("<c><xferlog></xferlog></c>", settings));
    EXPECT_EQ(settings.problems, (std::vector<std::string>{"<xferlog></xferlog> is not a file name"}));
}

TEST(ConnectionLimits, WebConnectionsLeaveTheFtpReserve) {
    // No limits: as configured.
    EXPECT_EQ(webConnectionLimit(256, 33, 0, 0).limit, 256u);
    EXPECT_FALSE(webConnectionLimit(256, 33, 0, 0).reduced);
    // 1024 descriptors, 33 sessions of 4 and 64 of our own: (1024 - 196) / 2 = 414.
    EXPECT_EQ(webConnectionLimit(1000, 33, 1024, 0).limit, 414u);
    EXPECT_TRUE(webConnectionLimit(1000, 33, 1024, 0).reduced);
    // Threads count too: 300 tasks, 33 sessions and 16 of our own leave 251.
    EXPECT_EQ(webConnectionLimit(256, 33, 65536, 300).limit, 251u);
    // A limit too low for maxconn still serves a few web connections (and says so).
    WebConnectionLimit starved = webConnectionLimit(256, 1000, 256, 0);
    EXPECT_TRUE(starved.reduced);
    EXPECT_EQ(starved.limit, kMinimumWebConnections);
    EXPECT_EQ(webConnectionLimit(4, 1000, 256, 0).limit, 4u);
}

TEST(ServerSettings, SftpIsOffWithoutItsPortAndAPortThatIsNoneIsAProblem) {
    ServerSettings settings;
    ASSERT_TRUE(applySettingsDocument("<c><listenip>127.0.0.1</listenip></c>", settings));
    EXPECT_EQ(settings.sftpPort, 0);
    ASSERT_TRUE(applySettingsDocument(
        "<c><sftpport>2222</sftpport><sftplistenip>127.0.0.2</sftplistenip></c>", settings));
    EXPECT_TRUE(settings.problems.empty());
    EXPECT_EQ(settings.sftpPort, 2222);
    EXPECT_EQ(settings.sftpListenAddress, "127.0.0.2");
    for (const char* port : {"0", "65536", "22x", ""}) {
        SCOPED_TRACE(port);
        ASSERT_TRUE(applySettingsDocument(std::string("<c><sftpport>") + port + "</sftpport></c>", settings));
        EXPECT_EQ(settings.sftpPort, 0);
        ASSERT_EQ(settings.problems.size(), 1u);
        EXPECT_NE(settings.problems[0].find("<sftpport>"), std::string::npos);
    }
    ASSERT_TRUE(applySettingsDocument("<c><sftplistenip>sftp.example.org</sftplistenip></c>", settings));
    ASSERT_EQ(settings.problems.size(), 1u);
    EXPECT_TRUE(settings.sftpListenAddress.empty());
    ASSERT_TRUE(applySettingsDocument("<c><sftplistenip>::1</sftplistenip></c>", settings));
    EXPECT_TRUE(settings.problems.empty());
    EXPECT_EQ(settings.sftpListenAddress, "::1");
    // Named host keys: a list of files; an empty list is a problem, never the made keys.
    ASSERT_TRUE(applySettingsDocument("<c><sftphostkey> /etc/ssh/a , b.key </sftphostkey></c>", settings));
    EXPECT_TRUE(settings.problems.empty());
    EXPECT_EQ(settings.sftpHostKeys, (std::vector<std::string>{"/etc/ssh/a", "b.key"}));
    for (const char* keys : {"", " , ", "a\x01"}) {
        SCOPED_TRACE(keys);
        ASSERT_TRUE(applySettingsDocument(std::string("<c><sftphostkey>") + keys + "</sftphostkey></c>", settings));
        EXPECT_TRUE(settings.sftpHostKeys.empty());
        ASSERT_EQ(settings.problems.size(), 1u);
        EXPECT_NE(settings.problems[0].find("<sftphostkey>"), std::string::npos);
    }
    // Taken away again, SFTP is off.
    ASSERT_TRUE(applySettingsDocument("<c></c>", settings));
    EXPECT_EQ(settings.sftpPort, 0);
    EXPECT_TRUE(settings.sftpListenAddress.empty());
    EXPECT_TRUE(settings.sftpHostKeys.empty());
}

}  // namespace
}  // namespace corvel
