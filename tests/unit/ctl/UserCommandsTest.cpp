// The user commands: the console's checks and messages, the password asked twice or
// read once, a damaged or locked users file, and the reload asked of a server.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "accounts/StoredPassword.h"
#include "config/UsersFile.h"
#include "common/NamedObjectNames.h"
#include "common/PasswordDigest.h"
#include "common/SharedBlocks.h"
#include "platform/NamedObjects.h"
#include "tests/unit/ctl/CtlTestSupport.h"

namespace corvel {
namespace {

using testing::CtlFixture;
using testing::CtlResult;

struct UserCommands : CtlFixture {
    std::vector<UserAccount> accounts() const { return UsersFile::read(dir.file("ftpusers.xml")).accounts(); }
    CtlResult add(const std::string& name, const std::string& password, std::vector<std::string> extra = {}) {
        passwords.type(password);
        std::vector<std::string> arguments = {"user", "add", name, "--home", "/srv/" + name, "--password-stdin"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return run(arguments);
    }
};

TEST_F(UserCommands, AddWritesTheAccountAsTheConsoleDoesAndListShowsIt) {
    const CtlResult added = add("alice", "s3cret", {"--welcome", "hi", "--description", "Alice A."});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_NE(added.err.find("warning: the home directory /srv/alice does not exist"), std::string::npos);
    ASSERT_EQ(accounts().size(), 1u);
    const UserAccount alice = accounts()[0];
    EXPECT_EQ(alice.password, passwordDigest("s3cret"));
    EXPECT_EQ(alice.privilege, 131074);
    EXPECT_EQ(alice.workDir, "/srv/alice");
    EXPECT_EQ(alice.alias, "Alice A.");
    EXPECT_EQ(alice.welcomeMessage, "hi");
    EXPECT_FALSE(alice.disabled);
    EXPECT_EQ(std::filesystem::status(dir.file("ftpusers.xml")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    ASSERT_EQ(add("bob", "pw", {"--rights", "all", "--disabled"}).status, 0);
    EXPECT_EQ(run({"user", "list"}).out,
              "NAME   HOME        RIGHTS     DISABLED\n"
              "alice  /srv/alice  read,list  no\n"
              "bob    /srv/bob    all        yes\n");
    EXPECT_EQ(run({"user", "list", "--json"}).out,
              "[{\"name\":\"alice\",\"description\":\"Alice A.\",\"home\":\"/srv/alice\",\"welcome\":\"hi\","
              "\"rights\":[\"read\",\"list\"],\"privilege\":131074,\"disabled\":false},"
              "{\"name\":\"bob\",\"description\":\"\",\"home\":\"/srv/bob\",\"welcome\":\"\","
              "\"rights\":[\"all\"],\"privilege\":458783,\"disabled\":true}]\n");
}

TEST_F(UserCommands, AddRefusesWhatTheConsoleRefusesAndARelativeHome) {
    ASSERT_EQ(add("alice", "pw").status, 0);
    const std::string written = dir.read("ftpusers.xml");
    const struct {
        std::vector<std::string> arguments;
        const char* says;
    } cases[] = {
        {{"user", "add", "", "--home", "/h", "--password-stdin"}, "Username can not be empty"},
        {{"user", "add", "alice", "--home", "/h", "--password-stdin"}, "User has already exists"},
        {{"user", "add", "carol", "--home", "", "--password-stdin"}, "Home Directory can not be empty"},
        {{"user", "add", "carol", "--home", "srv/carol", "--password-stdin"}, "must be an absolute path"},
        {{"user", "add", "carol", "--home", "/h", "--password-stdin"}, "Password can not be empty"},
    };
    for (const auto& c : cases) {
        passwords.type("");
        const CtlResult result = run(c.arguments);
        EXPECT_EQ(result.status, 1) << c.says;
        EXPECT_EQ(result.err.rfind("corvelctl: ", 0), 0u);
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
        EXPECT_EQ(dir.read("ftpusers.xml"), written);
    }
}

TEST_F(UserCommands, TheTerminalAsksTwiceAndRefusesTwoDifferentAnswers) {
    passwords.type("one");
    passwords.type("two");
    CtlResult result = run({"user", "add", "dave", "--home", "/srv/dave"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "corvelctl: Verify Password isn't equal with Password\n");
    EXPECT_EQ(passwords.prompts, (std::vector<std::string>{"Password: ", "Verify password: "}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("ftpusers.xml")));

    passwords.type("same");
    passwords.type("same");
    ASSERT_EQ(run({"user", "add", "dave", "--home", "/srv/dave"}).status, 0);
    EXPECT_EQ(accounts().at(0).password, passwordDigest("same"));

    passwords.answer(LineStatus::NoTerminal);
    result = run({"user", "passwd", "dave"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("--password-stdin"), std::string::npos);
    passwords.answer(LineStatus::TooLong);
    EXPECT_EQ(run({"user", "passwd", "dave", "--password-stdin"}).status, 1);
    EXPECT_EQ(run({"user", "passwd", "dave", "--password-stdin"}).status, 1);  // the input ended
    EXPECT_EQ(accounts().at(0).password, passwordDigest("same"));
}

TEST_F(UserCommands, AddAndPasswdWriteTheFormThePasswordHashElementNames) {
    dir.write("ftpconfig.xml", "<config><passwordhash>argon2id</passwordhash></config>");
    ASSERT_EQ(add("alice", "s3cret").status, 0);
    const std::string added = accounts().at(0).password;
    EXPECT_TRUE(isArgon2idForm(added)) << added;
    EXPECT_TRUE(storedPasswordMatches(added, "s3cret"));
    passwords.type("other");
    ASSERT_EQ(run({"user", "passwd", "alice", "--password-stdin"}).status, 0);
    const std::string changed = accounts().at(0).password;
    EXPECT_TRUE(isArgon2idForm(changed));
    EXPECT_TRUE(storedPasswordMatches(changed, "other"));
    EXPECT_FALSE(storedPasswordMatches(changed, "s3cret"));
    // Taken away again: the designed digest, as before.
    dir.write("ftpconfig.xml", "<config></config>");
    passwords.type("third");
    ASSERT_EQ(run({"user", "passwd", "alice", "--password-stdin"}).status, 0);
    EXPECT_EQ(accounts().at(0).password, passwordDigest("third"));
}

TEST_F(UserCommands, PasswdSetAndDelChangeOnlyTheirAccountAndWhatIsGiven) {
    dir.write("ftpusers.xml",
              "<users><user username=\"erin\" password=\"OLD\" alias=\"E\" privilege=\"2\" work_dir=\"/e\" "
              "welcome_msg=\"w\" disabled=\"no\" extra=\"kept\"><note/></user>"
              "<user username=\"fred\" password=\"F\" work_dir=\"/f\" privilege=\"131074\"/></users>");
    passwords.type("new");
    ASSERT_EQ(run({"user", "passwd", "erin", "--password-stdin"}).status, 0);
    ASSERT_EQ(run({"user", "set", "erin", "--rights", "read,write", "--disable"}).status, 0);
    std::vector<UserAccount> all = accounts();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].password, passwordDigest("new"));
    EXPECT_EQ(all[0].privilege, 6);
    EXPECT_TRUE(all[0].disabled);
    EXPECT_EQ(all[0].alias, "E");
    EXPECT_EQ(all[0].workDir, "/e");
    EXPECT_EQ(all[0].welcomeMessage, "w");
    EXPECT_NE(dir.read("ftpusers.xml").find("extra=\"kept\""), std::string::npos);
    EXPECT_NE(dir.read("ftpusers.xml").find("<note"), std::string::npos);
    EXPECT_EQ(all[1].password, "F");

    ASSERT_EQ(run({"user", "set", "erin", "--enable", "--home", "/e2", "--welcome", "", "--description", "x"}).status,
              0);
    all = accounts();
    EXPECT_FALSE(all[0].disabled);
    EXPECT_EQ(all[0].workDir, "/e2");
    EXPECT_EQ(all[0].welcomeMessage, "");
    EXPECT_EQ(all[0].privilege, 6);

    EXPECT_EQ(run({"user", "set", "erin", "--home", "rel"}).status, 1);
    EXPECT_EQ(run({"user", "set", "nobody", "--enable"}).err, "corvelctl: no user 'nobody' in ftpusers.xml\n");
    EXPECT_EQ(run({"user", "passwd", "nobody", "--password-stdin"}).status, 1);
    ASSERT_EQ(run({"user", "del", "erin"}).status, 0);
    ASSERT_EQ(accounts().size(), 1u);
    EXPECT_EQ(accounts()[0].username, "fred");
    EXPECT_EQ(run({"user", "del", "erin"}).status, 1);
}

TEST_F(UserCommands, AMalformedFileIsReportedByNameAndNeverRewritten) {
    const std::string broken = "<users><user username=\"a\" password=\"b\" work_dir=\"/c\"></users>";
    dir.write("ftpusers.xml", broken);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"user", "list"}, {"user", "add", "zed", "--home", "/z", "--password-stdin"},
          {"user", "del", "a"}, {"user", "set", "a", "--enable"}, {"user", "passwd", "a", "--password-stdin"}}) {
        passwords.type("pw");
        const CtlResult result = run(arguments);
        EXPECT_EQ(result.status, 1) << arguments[1];
        EXPECT_EQ(result.err.rfind("corvelctl: " + dir.file("ftpusers.xml") + " cannot be read (", 0), 0u)
            << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1);
        EXPECT_EQ(dir.read("ftpusers.xml"), broken);
    }
}

TEST_F(UserCommands, AUsersFileLockThatStaysHeldIsRefusedAfterTheWait) {
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kUsersFileMutex);
    ASSERT_TRUE(mutex);
    NamedMutexLock held(*mutex, 1000);
    ASSERT_TRUE(held.ownsLock());
    const CtlResult result = run({"user", "list"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("could not take the lock of ftpusers.xml within 5 seconds"), std::string::npos)
        << result.err;
}

TEST_F(UserCommands, AChangeAsksARunningServerToReloadAndSaysNothingWithoutOne) {
    const CtlResult alone = add("gina", "pw");
    EXPECT_EQ(alone.out, "Added user gina.\n");

    // The server's side of the control block, with another request pending.
    std::optional<NamedMutex> mutex = NamedMutex::createOrOpen(names::kControlMutex);
    std::optional<SharedBlock> block = SharedBlock::createZeroed(names::kControlBlock, kControlBlockSize);
    ASSERT_TRUE(mutex && block);
    writeControlWord(block->data(), ReloadAccess);
    const CtlResult served = add("hank", "pw");
    EXPECT_EQ(served.status, 0);
    EXPECT_EQ(served.out, "Added user hank.\nThe running server reloads ftpusers.xml at its next turn.\n");
    EXPECT_EQ(readControlWord(block->data()), ReloadAccess | ReloadUsers);

    // A control block that stays locked: the file is saved, and that is said.
    writeControlWord(block->data(), 0);
    {
        NamedMutexLock held(*mutex, 1000);
        ASSERT_TRUE(held.ownsLock());
        const CtlResult busy = add("ivan", "pw");
        EXPECT_EQ(busy.status, 1);
        EXPECT_NE(busy.err.find("ftpusers.xml was saved, but the running server's control block stayed locked"),
                  std::string::npos);
    }
    EXPECT_EQ(readControlWord(block->data()), 0u);
    EXPECT_EQ(accounts().size(), 3u);
    EXPECT_EQ(run({"reload", "policy"}).status, 0);
    EXPECT_EQ(readControlWord(block->data()), ReloadAccess);
}

}  // namespace
}  // namespace corvel
