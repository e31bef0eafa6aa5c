// The accounts under <passwordhash>argon2id: logins with either stored form, the
// rewrite of a designed digest at its account's first login, and what stays as it is.
#include <gtest/gtest.h>

#include "TempProgramDirectory.h"
#include "accounts/UserTable.h"
#include "config/UsersFile.h"
#include "common/PasswordDigest.h"
#include "platform/NamedObjects.h"

namespace corvel {
namespace {

std::string user(const std::string& name, const std::string& password, const std::string& extra = "") {
    return "<user username=\"" + name + "\" password=\"" + password + "\" work_dir=\"/h/" + name + "\" " + extra + "/>";
}

std::string passwordOf(const TempProgramDirectory& dir, std::size_t index) {
    return UsersFile::read(dir.file("ftpusers.xml")).accounts().at(index).password;
}

TEST(PasswordUpgrade, DesignedDigestBecomesArgon2idAtItsFirstLoginAndTheRestOfTheFileStays) {
    TempProgramDirectory dir;
    // Two accounts of one name are separate; the one that logs in is rewritten.
    const std::string original = "<?xml version=\"1.0\" ?>\n<users note=\"kept\">\n    <!-- by hand -->\n    " +
                                 user("alice", passwordDigest("one"), "quota=\"5\"") + "\n    " +
                                 "<user username=\"alice\" password=\"" + passwordDigest("two") +
                                 "\" work_dir=\"/h/a2\" extra=\"x\"><key type=\"ssh\">AAAA</key></user>\n    " +
                                 user("bob", passwordDigest("bob")) + "\n    <group name=\"g\" />\n</users>\n";
    dir.write("ftpusers.xml", original);
    UserTable table(dir.directory());
    table.load();
    table.setPasswordScheme(PasswordScheme::Argon2id);

    EXPECT_FALSE(table.authenticate("alice", "wrong"));
    EXPECT_EQ(dir.read("ftpusers.xml"), original);  // a failed login changes nothing

    ASSERT_TRUE(table.authenticate("alice", "two"));
    const std::string upgraded = passwordOf(dir, 1);
    EXPECT_TRUE(isArgon2idForm(upgraded)) << upgraded;
    EXPECT_TRUE(storedPasswordMatches(upgraded, "two"));
    EXPECT_EQ(passwordOf(dir, 0), passwordDigest("one"));
    EXPECT_EQ(passwordOf(dir, 2), passwordDigest("bob"));
    // Only that attribute changed: everything else of the file is where it was.
    std::string expected = original;
    const std::string before = "password=\"" + passwordDigest("two") + "\"";
    expected.replace(expected.find(before), before.size(), "password=\"" + upgraded + "\"");
    const std::string written = dir.read("ftpusers.xml");
    for (const char* kept : {"note=\"kept\"", "<!-- by hand -->", "quota=\"5\"", "extra=\"x\"",
                             "<key type=\"ssh\">AAAA</key>", "<group name=\"g\" />"})
        EXPECT_NE(written.find(kept), std::string::npos) << kept << "\n" << written;
    EXPECT_EQ(written.find(passwordDigest("two")), std::string::npos);

    // The table took the new form: the same password logs in, without another rewrite.
    EXPECT_TRUE(table.authenticate("alice", "two"));
    EXPECT_TRUE(table.authenticate("alice", "one"));
    EXPECT_FALSE(table.authenticate("alice", passwordDigest("two")));
    EXPECT_EQ(passwordOf(dir, 1), upgraded);
    EXPECT_TRUE(isArgon2idForm(passwordOf(dir, 0)));
}

TEST(PasswordUpgrade, WithoutTheElementDigestsStayAndArgon2idAccountsStillLogIn) {
    TempProgramDirectory dir;
    const std::optional<std::string> strong = storedPasswordFor("pw", PasswordScheme::Argon2id);
    ASSERT_TRUE(strong);
    const std::string original = "<users>" + user("alice", passwordDigest("pw")) + user("carol", *strong) + "</users>";
    dir.write("ftpusers.xml", original);
    UserTable table(dir.directory());
    table.load();
    EXPECT_TRUE(table.authenticate("alice", "pw"));
    EXPECT_TRUE(table.authenticate("carol", "pw"));
    EXPECT_FALSE(table.authenticate("carol", "pW"));
    EXPECT_EQ(dir.read("ftpusers.xml"), original);

    // A changed password takes the designed form then, and the other form once set.
    ASSERT_TRUE(table.updatePassword("carol", "new"));
    EXPECT_EQ(passwordOf(dir, 1), passwordDigest("new"));
    table.setPasswordScheme(PasswordScheme::Argon2id);
    ASSERT_TRUE(table.updatePassword("carol", "newer"));
    EXPECT_TRUE(isArgon2idForm(passwordOf(dir, 1)));
    EXPECT_TRUE(table.authenticate("carol", "newer"));
    EXPECT_FALSE(table.authenticate("carol", "new"));
}

TEST(PasswordUpgrade, DisabledAccountsAndAHeldLockLeaveTheDigest) {
    TempProgramDirectory dir;
    const std::string original = "<users>" + user("dave", passwordDigest("pw"), "disabled=\"yes\"") +
                                 user("erin", passwordDigest("pw")) + "</users>";
    dir.write("ftpusers.xml", original);
    UserTable table(dir.directory());
    table.load();
    table.setPasswordScheme(PasswordScheme::Argon2id);
    EXPECT_FALSE(table.authenticate("dave", "pw"));
    {
        // Another program (the console) holds the file: the login goes on, the
        // rewrite waits for the next one.
        UsersFileLock held;
        ASSERT_TRUE(held.held());
        std::optional<bool> loggedIn;
        std::thread other([&] { loggedIn = table.authenticate("erin", "pw"); });
        other.join();
        EXPECT_EQ(loggedIn, true);
        EXPECT_EQ(dir.read("ftpusers.xml"), original);
    }
    EXPECT_TRUE(table.authenticate("erin", "pw"));
    EXPECT_TRUE(isArgon2idForm(passwordOf(dir, 1)));
    EXPECT_EQ(passwordOf(dir, 0), passwordDigest("pw"));
}

}  // namespace
}  // namespace corvel
