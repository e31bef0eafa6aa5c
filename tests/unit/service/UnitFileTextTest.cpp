// The unit file text: its layout, which protection settings each place of the
// program directory and the homes allows, quoting, and refused control characters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ServiceManager.h"

namespace corvel {
namespace {

UnitDescription describe(std::string user, std::string programDirectory, std::vector<std::string> homes) {
    UnitDescription unit;
    unit.description = "CorvelFtp Service";
    unit.executable = programDirectory + "corveld";
    unit.user = std::move(user);
    unit.group = "corvelftp";
    unit.runtimeDirectory = "corvelftp";
    unit.programDirectory = std::move(programDirectory);
    unit.homeDirectories = std::move(homes);
    return unit;
}

// The settings lines of text that start with key.
std::vector<std::string> linesOf(const std::string& text, const std::string& key) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        if (line.compare(0, key.size(), key) == 0) lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

TEST(UnitFileText, AnAccountUnitUnderUsrReadsAsAWholeUnit) {
    std::optional<std::string> text =
        unitFileText(describe("nobody", "/usr/local/corvelftp/", {"/usr/local/corvelftp/anonymous", "/srv/ftp"}));
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text,
              "[Unit]\n"
              "Description=CorvelFtp Service\n"
              "Wants=network-online.target\n"
              "After=network-online.target\n"
              "StartLimitIntervalSec=60\n"
              "StartLimitBurst=5\n"
              "\n"
              "[Service]\n"
              "Type=notify\n"
              "ExecStart=/usr/local/corvelftp/corveld\n"
              "Restart=on-failure\n"
              "RestartSec=5s\n"
              "User=nobody\n"
              "Group=corvelftp\n"
              "UMask=0007\n"
              "LimitNOFILE=65536\n"
              "RuntimeDirectory=corvelftp\n"
              "RuntimeDirectoryMode=2770\n"
              "RuntimeDirectoryPreserve=yes\n"
              "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
              "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n"
              "NoNewPrivileges=yes\n"
              "PrivateTmp=yes\n"
              "ProtectSystem=full\n"
              "ProtectHome=yes\n"
              "ReadWritePaths=-/usr/local/corvelftp\n"
              "ReadWritePaths=-/usr/local/corvelftp/anonymous\n"
              "PrivateDevices=yes\n"
              "PrivateMounts=yes\n"
              "ProtectProc=invisible\n"
              "ProtectKernelTunables=yes\n"
              "ProtectKernelModules=yes\n"
              "ProtectKernelLogs=yes\n"
              "ProtectControlGroups=yes\n"
              "ProtectClock=yes\n"
              "ProtectHostname=yes\n"
              "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
              "RestrictNamespaces=yes\n"
              "RestrictRealtime=yes\n"
              "RestrictSUIDSGID=yes\n"
              "LockPersonality=yes\n"
              "MemoryDenyWriteExecute=yes\n"
              "SystemCallArchitectures=native\n"
              "SystemCallFilter=@system-service\n"
              "\n"
              "[Install]\n"
              "WantedBy=multi-user.target\n");
}

// Which protection lines each set of places gets.
TEST(UnitFileText, ProtectionLeavesOpenWhatTheDataPathsNeed) {
    struct Case {
        const char* what;
        std::string user;
        std::string programDirectory;
        std::vector<std::string> homes;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const std::vector<Case> cases = {
        {"root in /opt keeps what serving other accounts' files takes", "", "/opt/corvelftp/", {"/srv/ftp"},
         {"ProtectHome=yes", "PrivateTmp=yes", "ProtectSystem=full", "NoNewPrivileges=yes",
          "CapabilityBoundingSet=CAP_NET_BIND_SERVICE CAP_DAC_OVERRIDE CAP_DAC_READ_SEARCH CAP_CHOWN CAP_FOWNER"},
         {"User=", "AmbientCapabilities=", "ReadWritePaths="}},
        {"an account may bind low ports", "ftp", "/opt/corvelftp/", {},
         {"User=ftp", "AmbientCapabilities=CAP_NET_BIND_SERVICE", "CapabilityBoundingSet=CAP_NET_BIND_SERVICE"},
         {}},
        {"a home below /home stays writable", "", "/opt/corvelftp/", {"/srv/ftp", "/home/alice/ftp"},
         {"ProtectSystem=full", "PrivateTmp=yes", "SystemCallFilter=@system-service"},
         {"ProtectHome=", "ReadWritePaths="}},
        {"an account's home below /home too", "ftp", "/opt/corvelftp/", {"/home/ftp"}, {"User=ftp"},
         {"ProtectHome="}},
        {"the program below /root", "", "/root/corvelftp/", {}, {}, {"ProtectHome="}},
        {"a home below /run/user", "", "/opt/c/", {"/run/user/1000/ftp"}, {}, {"ProtectHome="}},
        {"a home only named like /home", "", "/opt/c/", {"/homework", "/tmpfiles"},
         {"ProtectHome=yes", "PrivateTmp=yes"}, {}},
        {"a home that holds everything", "", "/opt/c/", {"/"}, {"ProtectSystem=full"},
         {"ProtectHome=", "PrivateTmp=", "ReadWritePaths="}},
        {"a home in /var/tmp", "", "/opt/c/", {"/var/tmp/ftp"}, {"ProtectHome=yes"}, {"PrivateTmp="}},
        {"a relative home names no place", "", "/opt/c/", {"home/x", "../home"}, {"ProtectHome=yes"},
         {"ReadWritePaths="}},
        {"a home that climbs out of /usr", "", "/opt/c/", {"/usr/../home/x"}, {}, {"ProtectHome=", "ReadWritePaths="}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<std::string> text = unitFileText(describe(c.user, c.programDirectory, c.homes));
        ASSERT_TRUE(text.has_value());
        for (const std::string& line : c.present) EXPECT_EQ(linesOf(*text, line).size(), 1u) << line;
        for (const std::string& key : c.absent) EXPECT_TRUE(linesOf(*text, key).empty()) << key;
    }
}

TEST(UnitFileText, OpensEachPathBelowUsrEtcOrBootOnce) {
    std::string text = *unitFileText(
        describe("", "/opt/c/", {"/etc/ftp/", "/boot/ftp", "/usr/../etc/ftp", "/usr", "/usrlocal/x", "/srv/ftp"}));
    EXPECT_EQ(linesOf(text, "ReadWritePaths="), (std::vector<std::string>{"ReadWritePaths=-/etc/ftp",
                                                                          "ReadWritePaths=-/boot/ftp",
                                                                          "ReadWritePaths=-/usr"}));
}

TEST(UnitFileText, QuotesPathsSystemdWouldSplitOrExpand) {
    std::string text = *unitFileText(describe("", "/usr/my ftp/100%/", {"/etc/a\"b\\c'd"}));
    EXPECT_EQ(linesOf(text, "ExecStart="), (std::vector<std::string>{"ExecStart=\"/usr/my ftp/100%%/corveld\""}));
    EXPECT_EQ(linesOf(text, "ReadWritePaths="),
              (std::vector<std::string>{"ReadWritePaths=\"-/usr/my ftp/100%%\"",
                                        "ReadWritePaths=\"-/etc/a\\\"b\\\\c'd\""}));
    EXPECT_EQ(linesOf(*unitFileText(describe("", "/opt/$HOME/", {})), "ExecStart="),
              (std::vector<std::string>{"ExecStart=/opt/$$HOME/corveld"}));
}

TEST(UnitFileText, RefusesControlCharactersAnywhere) {
    const std::vector<void (*)(UnitDescription&)> spoil = {
        [](UnitDescription& u) { u.description += "\n[Service]"; },
        [](UnitDescription& u) { u.executable += "\r"; },
        [](UnitDescription& u) { u.user = "a\nb"; },
        [](UnitDescription& u) { u.group = "g\x7f"; },
        [](UnitDescription& u) { u.runtimeDirectory = "c\nExecStartPre=/bin/sh"; },
        [](UnitDescription& u) { u.programDirectory = "/usr/x\n"; },
        [](UnitDescription& u) { u.homeDirectories.push_back("/srv/ftp\nExecStartPre=/bin/sh"); },
    };
    for (std::size_t i = 0; i < spoil.size(); ++i) {
        UnitDescription unit = describe("ftp", "/usr/local/c/", {"/srv/ftp"});
        spoil[i](unit);
        EXPECT_FALSE(unitFileText(unit).has_value()) << "value " << i;
    }
}

}  // namespace
}  // namespace corvel
