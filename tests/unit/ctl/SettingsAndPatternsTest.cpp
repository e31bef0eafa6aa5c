// The checks of settings set and policy add, alone and through the commands, which
// must leave the file as it was when they refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "config/AddressPattern.h"
#include "config/SettingsFile.h"
#include "ctl/SettingKeys.h"
#include "ctl/TextTable.h"
#include "tests/unit/ctl/CtlTestSupport.h"
#include "tls/Certificate.h"

namespace corvel {
namespace {

using testing::CtlFixture;
using testing::CtlResult;

std::optional<std::string> fileTextFor(const char* key, const char* typed) {
    return findSettingKey(key)->check(typed).fileText;
}

TEST(SettingValues, PortsAreDigitsFromOneTo65535AndNeverWrapped) {
    for (const char* key : {"ftpport", "httpport"}) {
        EXPECT_EQ(fileTextFor(key, "1"), "1");
        EXPECT_EQ(fileTextFor(key, "21"), "21");
        EXPECT_EQ(fileTextFor(key, "65535"), "65535");
        EXPECT_EQ(fileTextFor(key, "0021"), "21");
        for (const char* refused : {"0", "65536", "70000", "99999x", "", " 21", "21 ", "+21", "-1", "0x15", "2l",
                                    "184467440737095516160021"})
            EXPECT_FALSE(fileTextFor(key, refused)) << key << " " << refused;
    }
    const SettingValue refused = findSettingKey("ftpport")->check("99999x");
    EXPECT_NE(refused.error.find("'99999x'"), std::string::npos);
    EXPECT_NE(refused.error.find("1 to 65535"), std::string::npos);
}

TEST(SettingValues, TheOtherKeysTakeWhatTheServerCanUse) {
    EXPECT_EQ(fileTextFor("maxconn", "0"), "0");
    EXPECT_EQ(fileTextFor("maxconn", "4294967295"), "4294967295");
    EXPECT_FALSE(fileTextFor("maxconn", "4294967296"));
    EXPECT_FALSE(fileTextFor("maxconn", "10 "));
    EXPECT_EQ(fileTextFor("listenip", ""), "");
    EXPECT_EQ(fileTextFor("listenip", "192.168.1.7"), "192.168.1.7");
    for (const char* refused : {"localhost", "192.168.1", "192.168.1.256", "::1", " 10.0.0.1", "10.0.0.1/8"})
        EXPECT_FALSE(fileTextFor("listenip", refused)) << refused;
    EXPECT_EQ(fileTextFor("pasvmode", "yes"), "yes");
    EXPECT_EQ(fileTextFor("pasvmode", "no"), "no");
    EXPECT_FALSE(fileTextFor("pasvmode", "Yes"));
    EXPECT_FALSE(fileTextFor("pasvmode", "true"));
    // Line ends, typed or as \n, become CR LF as the console writes them.
    EXPECT_EQ(fileTextFor("welcomemsg", "a\\nb\nc\r\nd"), "a\r\nb\r\nc\r\nd");
    EXPECT_EQ(fileTextFor("welcomemsg", ""), "");
    EXPECT_EQ(displayText("a\r\nb\x1b[2J"), "a\\nb\\x1B[2J");
}

TEST(AddressPatterns, ThoseNoAddressCanMatchAreRefusedWithTheReason) {
    for (const char* fine : {"127.0.0.1", "192.168.1.*", "10.0.0.?", "*", "?", "2001:db8::1", "fe80::*",
                             "::ffff:10.0.0.1", "*.*.*.*"})
        EXPECT_FALSE(whyPatternNeverMatches(fine)) << fine;
    const struct {
        std::string pattern;
        const char* reason;
    } refused[] = {
        {"", "empty"},
        {"2001:DB8::1", "upper-case letter 'D'"},
        {"192.168.1.0/24", "'/'"},
        {" 10.0.0.1", "' '"},
        {"host.example", "'h'"},
        {std::string("10.0.0.\x01", 8), "\\x01"},
        {std::string(46, '1'), "46 characters"},
    };
    for (const auto& c : refused) {
        const std::optional<std::string> why = whyPatternNeverMatches(c.pattern);
        ASSERT_TRUE(why) << c.pattern;
        EXPECT_NE(why->find(c.reason), std::string::npos) << *why;
    }
    EXPECT_FALSE(whyPatternNeverMatches(std::string(45, '?')));
    EXPECT_FALSE(whyPatternNeverMatches(std::string(60, '1') + "*"));
}

struct SettingsAndPolicyCommands : CtlFixture {};

TEST_F(SettingsAndPolicyCommands, ARefusedSettingLeavesTheFileAndAnAcceptedOneKeepsUnknownElements) {
    const std::string original =
        "<config><ftpport>2121</ftpport><httpport>8080</httpport><maxconn>32</maxconn>"
        "<tls mode=\"x\">on</tls></config>";
    dir.write("ftpconfig.xml", original);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"settings", "set", "ftpport", "99999x"}, {"settings", "set", "ftpport", "70000"},
          {"settings", "set", "httpport", "2121"}, {"settings", "set", "pasvmode", "maybe"}}) {
        const CtlResult result = run(arguments);
        EXPECT_EQ(result.status, 1) << arguments[3];
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(dir.read("ftpconfig.xml"), original);
    }
    const CtlResult saved = run({"settings", "set", "maxconn", "10"});
    EXPECT_EQ(saved.status, 0) << saved.err;
    EXPECT_NE(saved.out.find("restart the server"), std::string::npos);
    const SettingsFile file = SettingsFile::read(dir.file("ftpconfig.xml"));
    EXPECT_EQ(file.text("maxconn"), "10");
    EXPECT_EQ(file.text("tls"), "on");
    EXPECT_NE(dir.read("ftpconfig.xml").find("mode=\"x\""), std::string::npos);
}

TEST_F(SettingsAndPolicyCommands, AMissingSettingsFileStartsFromTheServersDefaults) {
    ASSERT_EQ(run({"settings", "set", "welcomemsg", "hello\\nthere"}).status, 0);
    const SettingsFile file = SettingsFile::read(dir.file("ftpconfig.xml"));
    EXPECT_EQ(file.text("welcomemsg"), "hello\r\nthere");
    EXPECT_EQ(file.text("ftpport"), "21");
    EXPECT_EQ(file.text("httpport"), "8080");
    const CtlResult shown = run({"--json", "settings", "show"});
    EXPECT_NE(shown.out.find("\"welcomemsg\":\"hello\\r\\nthere\""), std::string::npos) << shown.out;
}

TEST_F(SettingsAndPolicyCommands, ExtensionKeysAreCheckedByTheServersRulesAndUnsetTakesThemAway) {
    const std::string original =
        "<config><listenip>::</listenip><ftpport>2121</ftpport><ftpext>yes</ftpext><future>x</future></config>";
    dir.write("ftpconfig.xml", original);
    const std::pair<std::vector<std::string>, const char*> refused[] = {
        {{"settings", "set", "tls", "yes"}, "tls: 'yes' is refused: off, explicit (AUTH TLS offered) or required"},
        {{"settings", "set", "pasvports", "9-8"}, "pasvports: '9-8' is refused: a range of ports A-B"},
        {{"settings", "set", "banwindow", "0"}, "banwindow: '0' is refused: a number of minutes from 1 to 525600"},
        {{"settings", "set", "webmaxperip", "1e3"}, "webmaxperip: '1e3' is refused: a number of web connections from 0"},
        {{"settings", "set", "maxwebconn", ""}, "(settings unset maxwebconn takes the element away)"},
        {{"settings", "set", "proxyfrom", "10.0.0.0/8"}, "'10.0.0.0/8' can never match an address"},
        {{"settings", "set", "webcharset", "utf 8"}, "webcharset: 'utf 8' is refused: a character set name such as"},
        {{"settings", "set", "sftpport", "70000"}, "sftpport: '70000' is refused: a port number from 1 to 65535"},
        {{"settings", "set", "sftplistenip", "sftp.example.org"}, "sftplistenip: 'sftp.example.org' is refused"},
        {{"settings", "set", "ftpext", "no"}, "the IPv6 listen address :: needs the FTP extensions"},
        {{"settings", "unset", "ftpext"}, "the IPv6 listen address :: needs the FTP extensions"},
    };
    for (const auto& [arguments, says] : refused) {
        const CtlResult result = run(arguments);
        EXPECT_EQ(result.status, 1) << arguments[2];
        EXPECT_NE(result.err.find(says), std::string::npos) << result.err;
        EXPECT_EQ(dir.read("ftpconfig.xml"), original);
    }
    ASSERT_EQ(run({"settings", "set", "maxwebconn", "7"}).status, 0);
    ASSERT_EQ(run({"settings", "set", "pasvports", "50000-50099"}).status, 0);
    ASSERT_EQ(run({"settings", "set", "webcharset", "utf-8"}).status, 0);
    ASSERT_EQ(run({"settings", "set", "sftpport", "2222"}).status, 0);
    ASSERT_EQ(run({"settings", "unset", "maxwebconn"}).status, 0);
    const std::string written = dir.read("ftpconfig.xml");
    EXPECT_EQ(written.find("maxwebconn"), std::string::npos);
    EXPECT_NE(written.find("<pasvports>50000-50099</pasvports>"), std::string::npos);
    EXPECT_NE(written.find("<webcharset>utf-8</webcharset>"), std::string::npos);
    EXPECT_NE(written.find("<sftpport>2222</sftpport>"), std::string::npos);
    EXPECT_NE(written.find("<future>x</future>"), std::string::npos);
    const CtlResult again = run({"settings", "unset", "maxwebconn"});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("maxwebconn is not set"), std::string::npos);
    EXPECT_EQ(dir.read("ftpconfig.xml"), written);
}

TEST_F(SettingsAndPolicyCommands, ShowListsEveryExtensionKeyAndWithTlsOnTheCertificate) {
    dir.write("ftpconfig.xml", "<config><ftpport>2121</ftpport><maxperip>4</maxperip></config>");
    const CtlResult off = run({"settings", "show"});
    // The six keep their table; the extensions follow in their own.
    EXPECT_NE(off.out.find("ftpport     2121\n"), std::string::npos) << off.out;
    EXPECT_NE(off.out.find("\nmaxperip      4\n"), std::string::npos);
    EXPECT_NE(off.out.find("\nmaxwebconn    (not set: 256)\n"), std::string::npos);
    EXPECT_NE(off.out.find("\nwebcharset    (not set: none declared)\n"), std::string::npos);
    // The limits per address hold without their elements, and say so.
    EXPECT_NE(off.out.find("\nmaxprelogin   (not set: 8)\n"), std::string::npos) << off.out;
    EXPECT_NE(off.out.find("\nwebmaxperip   (not set: 16)\n"), std::string::npos);
    EXPECT_NE(off.out.find("\nsftpport      (not set: no SFTP)\n"), std::string::npos);
    EXPECT_NE(off.out.find("\nsftplistenip  (not set: the FTP listen address)\n"), std::string::npos);
    EXPECT_EQ(off.out.find("SHA-256"), std::string::npos);

    ASSERT_EQ(run({"settings", "set", "webtls", "yes"}).status, 0);
    EXPECT_NE(run({"settings", "show"}).out.find("SHA-256          made by the server on its first start"),
              std::string::npos);
    ASSERT_TRUE(createSelfSignedCertificate(dir.file("c.pem"), dir.file("k.pem"), "localhost"));
    ASSERT_EQ(run({"settings", "set", "tlscert", "c.pem"}).status, 0);
    const std::string fingerprint = *certificateFingerprint(dir.file("c.pem"));
    EXPECT_NE(run({"settings", "show"}).out.find("SHA-256          " + fingerprint + "\n"), std::string::npos);
    const CtlResult json = run({"--json", "settings", "show"});
    EXPECT_NE(json.out.find("\"maxwebconn\":null"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"fingerprint\":\"" + fingerprint + "\""), std::string::npos);
}

TEST_F(SettingsAndPolicyCommands, PolicyAddRefusesEmptyDuplicateAndNeverMatchingPatterns) {
    ASSERT_EQ(run({"policy", "add", "127.0.0.1"}).status, 0);
    const std::string written = dir.read("ftpaccess.xml");
    for (const char* pattern : {"", "127.0.0.1", "LOCALHOST", "10.0.0.0/8"}) {
        const CtlResult result = run({"policy", "add", pattern});
        EXPECT_EQ(result.status, 1) << pattern;
        EXPECT_EQ(dir.read("ftpaccess.xml"), written);
    }
    EXPECT_NE(run({"policy", "add", "127.0.0.1"}).err.find("The IP already exist"), std::string::npos);
    EXPECT_NE(run({"policy", "add", "10.0.0.0/8"}).err.find("'/'"), std::string::npos);
}

TEST_F(SettingsAndPolicyCommands, PolicyChangesKeepTheModeAndSayWhenAPermitListIsEmpty) {
    EXPECT_NE(run({"policy", "show"}).out.find("mode: unset"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("ftpaccess.xml")));  // show writes nothing
    EXPECT_NE(run({"policy", "mode", "permit"}).out.find("Note: the permit list is empty"), std::string::npos);
    ASSERT_EQ(run({"policy", "add", "10.0.0.*"}).status, 0);
    ASSERT_EQ(run({"policy", "add", "10.0.1.*"}).status, 0);
    ASSERT_EQ(run({"policy", "del", "10.0.0.*"}).status, 0);
    EXPECT_EQ(run({"--json", "policy", "show"}).out, "{\"mode\":\"permit\",\"patterns\":[\"10.0.1.*\"]}\n");
    EXPECT_EQ(run({"policy", "del", "10.0.0.*"}).status, 1);
    dir.write("ftpaccess.xml", "<access><iptable type=\"PASS\"><ip value=\"1.2.3.4\"></iptable>");
    const std::string broken = dir.read("ftpaccess.xml");
    const CtlResult result = run({"policy", "mode", "reject"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("ftpaccess.xml cannot be read"), std::string::npos) << result.err;
    EXPECT_EQ(dir.read("ftpaccess.xml"), broken);
}

}  // namespace
}  // namespace corvel
