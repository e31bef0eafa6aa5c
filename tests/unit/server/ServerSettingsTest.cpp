#include <gtest/gtest.h>

#include "../accounts/TempProgramDirectory.h"
#include "server/ServerSettings.h"

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

TEST(ServerSettings, MalformedFileIsKeptAside) {
    TempProgramDirectory dir;
    dir.write("ftpconfig.xml", "<config><ftpport>2121");
    ServerSettings settings;
    ASSERT_TRUE(loadSettings(dir.directory(), settings));
    EXPECT_EQ(settings.ftpPort, 21);
    EXPECT_EQ(dir.read("ftpconfig.xml.broken"), "<config><ftpport>2121");
}

}  // namespace
}  // namespace corvel
