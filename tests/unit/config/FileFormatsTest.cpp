// The three file formats as every program reads and rewrites them: known fields in
// their fixed order, and whatever else a file holds kept on every rewrite.
#include <gtest/gtest.h>

#include "tests/unit/accounts/TempProgramDirectory.h"
#include "config/AccessFile.h"
#include "config/SettingsFile.h"
#include "config/UsersFile.h"

namespace corvel {
namespace {

std::string saved(const XmlFile& file, TempProgramDirectory& dir, const std::string& name) {
    EXPECT_TRUE(file.save(dir.file(name)));
    return dir.read(name);
}

TEST(UsersFile, RewritesKeepWhatTheyDoNotKnow) {
    TempProgramDirectory dir;
    UsersFile file = UsersFile::parse(
        "<?xml version=\"1.0\" ?><users site=\"main\"><!-- office -->"
        "<user username=\"alice\" password=\"P1\" work_dir=\"/a\" quota=\"5G\" privilege=\"3\"><note>keep</note></user>"
        "<user username=\"broken\"/>"
        "<group name=\"staff\"/>"
        "<user username=\"bob\" password=\"P2\" work_dir=\"/b\" disabled=\"yes\"/></users>");
    ASSERT_TRUE(file.loaded());
    std::vector<UserAccount> accounts = file.accounts();
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].element, 0);
    EXPECT_EQ(accounts[1].element, 2);  // the incomplete element in between is no account
    EXPECT_TRUE(accounts[1].disabled);

    // bob first, alice changed, a new account last.
    accounts[0].alias = "Alice";
    UserAccount carol{"carol", "P3", "", "/c", "hi", 131074, false, -1};
    file.replaceAccounts({accounts[1], accounts[0], carol});
    EXPECT_EQ(saved(file, dir, "ftpusers.xml"),
              "<?xml version=\"1.0\" ?>\n<users site=\"main\">\n    <!-- office -->\n"
              "    <user username=\"bob\" password=\"P2\" alias=\"\" privilege=\"0\" work_dir=\"/b\" welcome_msg=\"\" "
              "disabled=\"yes\" />\n"
              "    <user username=\"alice\" password=\"P1\" alias=\"Alice\" privilege=\"3\" work_dir=\"/a\" "
              "welcome_msg=\"\" disabled=\"no\" quota=\"5G\">\n        <note>keep</note>\n    </user>\n"
              "    <user username=\"carol\" password=\"P3\" alias=\"\" privilege=\"131074\" work_dir=\"/c\" "
              "welcome_msg=\"hi\" disabled=\"no\" />\n"
              "    <group name=\"staff\" />\n</users>\n");

    // A password change touches that one attribute and nothing else.
    UsersFile again = UsersFile::read(dir.file("ftpusers.xml"));
    const std::string before = dir.read("ftpusers.xml");
    ASSERT_TRUE(again.setPassword("alice", "NEW"));
    EXPECT_FALSE(again.setPassword("nobody", "X"));
    std::string expected = before;
    expected.replace(expected.find("\"P1\""), 4, "\"NEW\"");
    EXPECT_EQ(saved(again, dir, "ftpusers.xml"), expected);
}

TEST(UsersFile, SshKeysAreChildrenThatEveryRewriteKeeps) {
    TempProgramDirectory dir;
    UsersFile file = UsersFile::parse(
        "<users><user username=\"alice\" password=\"P1\" work_dir=\"/a\"><note>keep</note>"
        "<sshkey>ssh-ed25519 AAAA one</sshkey><sshkey></sshkey></user>"
        "<user username=\"bob\" password=\"P2\" work_dir=\"/b\"/></users>");
    ASSERT_TRUE(file.loaded());
    EXPECT_EQ(file.accounts()[0].sshKeys, std::vector<std::string>{"ssh-ed25519 AAAA one"});  // empty ones are none
    EXPECT_TRUE(file.accounts()[1].sshKeys.empty());
    ASSERT_TRUE(file.addSshKey("alice", "ssh-rsa BBBB two"));
    ASSERT_TRUE(file.addSshKey("bob", "ssh-ed25519 CCCC three"));
    EXPECT_FALSE(file.addSshKey("nobody", "ssh-ed25519 CCCC three"));

    // A rewrite of the accounts, as the console and user set do it, keeps them.
    std::vector<UserAccount> accounts = file.accounts();
    accounts[0].welcomeMessage = "hi";
    accounts[0].sshKeys.clear();  // the field is read only: it writes nothing
    file.replaceAccounts(accounts);
    UsersFile again = UsersFile::parse(saved(file, dir, "ftpusers.xml"));
    EXPECT_EQ(again.accounts()[0].sshKeys, (std::vector<std::string>{"ssh-ed25519 AAAA one", "ssh-rsa BBBB two"}));
    EXPECT_EQ(again.accounts()[1].sshKeys, std::vector<std::string>{"ssh-ed25519 CCCC three"});

    ASSERT_TRUE(again.removeSshKey("alice", 0));
    EXPECT_FALSE(again.removeSshKey("alice", 1));
    EXPECT_FALSE(again.removeSshKey("nobody", 0));
    EXPECT_EQ(again.accounts()[0].sshKeys, std::vector<std::string>{"ssh-rsa BBBB two"});
    EXPECT_NE(saved(again, dir, "ftpusers.xml").find("<note>keep</note>"), std::string::npos);
}

TEST(UsersFile, AnonymousSwitchFollowsTheLastElementOfThatNameInAnyCase) {
    EXPECT_TRUE(UsersFile::parse("<u><user username=\"ANONYMOUS\" disabled=\"no\"/></u>").anonymousEnabled());
    EXPECT_FALSE(UsersFile::parse("<u><user username=\"anonymous\" disabled=\"no\"/>"
                                  "<user username=\"Anonymous\" disabled=\"yes\"/></u>").anonymousEnabled());
    EXPECT_FALSE(UsersFile::parse("<u/>").anonymousEnabled());
}

TEST(AccessFile, PolicyRewritesKeepOtherAttributesAndElements) {
    TempProgramDirectory dir;
    AccessFile file = AccessFile::parse(
        "<access><iptable type=\"REJECT\" note=\"lan\"><ip value=\"10.*\"/><comment/><ip/></iptable>"
        "<iptable type=\"PASS\"/><logging on=\"1\"/></access>");
    EXPECT_EQ(file.mode(), AccessMode::Reject);
    EXPECT_EQ(file.patterns(), (std::vector<std::string>{"10.*"}));
    file.setPolicy(AccessMode::Permit, {"127.0.0.1", "192.168.*"});
    EXPECT_EQ(saved(file, dir, "ftpaccess.xml"),
              "<access>\n    <iptable type=\"PASS\" note=\"lan\">\n        <ip value=\"127.0.0.1\" />\n"
              "        <ip value=\"192.168.*\" />\n        <comment />\n    </iptable>\n"
              "    <iptable type=\"PASS\" />\n    <logging on=\"1\" />\n</access>\n");
    EXPECT_EQ(AccessFile::parse("<access/>").mode(), AccessMode::NoTable);
    EXPECT_EQ(AccessFile::parse("<a><iptable/></a>").mode(), AccessMode::Permit);
}

TEST(SettingsFile, TextsChangeInPlaceAndOtherElementsStay) {
    TempProgramDirectory dir;
    SettingsFile file = SettingsFile::parse("<config><ftpport>21</ftpport><tls>explicit</tls><maxconn/></config>");
    EXPECT_EQ(file.text("ftpport"), "21");
    EXPECT_EQ(file.text("maxconn"), "");
    EXPECT_EQ(file.text("httpport"), std::nullopt);
    file.setText("ftpport", "2121");
    file.setText("httpport", "");
    file.remove("maxconn");
    EXPECT_EQ(saved(file, dir, "ftpconfig.xml"),
              "<config>\n    <ftpport>2121</ftpport>\n    <tls>explicit</tls>\n    <httpport></httpport>\n</config>\n");
}

TEST(XmlFiles, ReadTellsMissingFromUnreadable) {
    TempProgramDirectory dir;
    EXPECT_EQ(SettingsFile::read(dir.file("ftpconfig.xml")).status(), FileRead::Missing);
    dir.write("ftpconfig.xml", "<config><a></config>");
    SettingsFile broken = SettingsFile::read(dir.file("ftpconfig.xml"));
    EXPECT_EQ(broken.status(), FileRead::Unreadable);
    EXPECT_FALSE(broken.error().empty());
    EXPECT_EQ(broken.errorLine(), 1);
}

}  // namespace
}  // namespace corvel
