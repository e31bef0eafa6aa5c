// The share commands: a link made only of what its owner may share, printed once
// and stored as its digest, listed with the state it is in, and revoked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/PasswordDigest.h"
#include "config/SharesFile.h"
#include "config/UsersFile.h"
#include "tests/unit/ctl/CtlTestSupport.h"

namespace corvel {
namespace {

using testing::CtlFixture;
using testing::CtlResult;

struct ShareCommands : CtlFixture {
    void SetUp() override {
        std::filesystem::create_directories(dir.file("home/docs"));
        std::ofstream(dir.file("home/docs/a.txt")) << "a";
        UsersFile users = UsersFile::empty();
        users.replaceAccounts({{"alice", passwordDigest("pw"), "", dir.file("home"), "", 0x20000 | 0x2, false, -1},
                               {"wendy", passwordDigest("pw"), "", dir.file("home"), "", 0x20000 | 0x7, false, -1},
                               {"off", passwordDigest("pw"), "", dir.file("home"), "", 0x20000 | 0x2, true, -1}});
        ASSERT_TRUE(users.save(dir.file("ftpusers.xml")));
    }
    std::vector<ShareLink> links() const { return SharesFile::read(dir.file("ftpshares.xml")).links(); }
};

TEST_F(ShareCommands, AddPrintsTheLinkOnceAndStoresItsDigest) {
    passwords.type("secret");
    const CtlResult made = run({"share", "add", "alice", "docs/a.txt", "--password-stdin", "--max-downloads", "3",
                                "--url", "https://files.example.com/"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string url = made.out.substr(made.out.rfind('\n', made.out.size() - 2) + 1);
    ASSERT_EQ(url.rfind("https://files.example.com/app/s/", 0), 0u) << made.out;
    const std::string token = url.substr(32, 32);
    ASSERT_EQ(links().size(), 1u);
    const ShareLink link = links()[0];
    EXPECT_EQ(link.kind, ShareKind::File);
    EXPECT_EQ(link.path, "docs/a.txt");
    EXPECT_EQ(link.tokenDigest, shareTokenDigest(token));
    EXPECT_EQ(link.password, passwordDigest("secret"));
    EXPECT_EQ(link.maxUses, 3);
    EXPECT_EQ(dir.read("ftpshares.xml").find(token), std::string::npos);
    EXPECT_EQ(std::filesystem::status(dir.file("ftpshares.xml")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    const CtlResult listed = run({"share", "list"});
    EXPECT_NE(listed.out.find(link.id + "  alice  file  /docs/a.txt  never    yes       0/3   active"),
              std::string::npos)
        << listed.out;
    EXPECT_EQ(run({"share", "list", "--json"}).out,
              "[{\"id\":\"" + link.id + "\",\"owner\":\"alice\",\"kind\":\"file\",\"path\":\"docs/a.txt\",\"created\":" +
                  std::to_string(link.created) +
                  ",\"expires\":null,\"password\":true,\"uses\":0,\"maxUses\":3,\"state\":\"active\"}]\n");
    EXPECT_EQ(run({"share", "revoke", link.id}).status, 0);
    EXPECT_TRUE(links().empty());
    EXPECT_EQ(run({"share", "revoke", link.id}).status, 1);
}

TEST_F(ShareCommands, AddRefusesWhatTheOwnerCannotShare) {
    EXPECT_EQ(run({"share", "add", "nobody", "docs"}).status, 1);
    EXPECT_NE(run({"share", "add", "off", "docs"}).err.find("disabled"), std::string::npos);
    EXPECT_NE(run({"share", "add", "alice", "missing"}).err.find("nothing is at /missing"), std::string::npos);
    EXPECT_NE(run({"share", "add", "alice", "../../etc"}).err.find("climbs above"), std::string::npos);
    EXPECT_NE(run({"share", "add", "alice", "docs", "--dropbox"}).err.find("may not write"), std::string::npos);
    EXPECT_NE(run({"share", "add", "wendy", "docs/a.txt", "--dropbox"}).err.find("made of a folder"),
              std::string::npos);
    EXPECT_EQ(run({"share", "add", "alice", "docs", "--expires", "2001-01-01"}).status, 1);
    EXPECT_EQ(run({"share", "add", "alice", "docs", "--expires", "soon"}).status, 2);
    EXPECT_EQ(run({"share", "add", "alice", "docs", "--max-downloads", "0"}).status, 2);
    EXPECT_EQ(run({"share", "add", "alice", "docs", "--max-downloads", "7x"}).status, 2);
    EXPECT_EQ(run({"share", "add", "alice", "docs", "--password", "--password-stdin"}).status, 2);
    EXPECT_TRUE(links().empty());
    ASSERT_EQ(run({"share", "add", "wendy", "docs", "--dropbox", "--expires", "2999-12-31"}).status, 0);
    EXPECT_EQ(links()[0].kind, ShareKind::DropBox);
    EXPECT_EQ(links()[0].expires, *shareExpiryOfDate("2999-12-31"));
}

TEST_F(ShareCommands, ListShowsLinksThatStoppedWorkingAndLeavesABrokenFileAlone) {
    ASSERT_EQ(run({"share", "add", "alice", "docs"}).status, 0);
    UsersFile users = UsersFile::read(dir.file("ftpusers.xml"));
    std::vector<UserAccount> accounts = users.accounts();
    accounts[0].privilege = 0x2;  // no List: a folder link stops
    users.replaceAccounts(accounts);
    ASSERT_TRUE(users.save(dir.file("ftpusers.xml")));
    EXPECT_NE(run({"share", "list"}).out.find("not working: owner lacks the right"), std::string::npos);
    dir.write("ftpshares.xml", "<shares><share");
    const CtlResult refused = run({"share", "revoke", "x"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("cannot be read"), std::string::npos) << refused.err;
    EXPECT_EQ(dir.read("ftpshares.xml"), "<shares><share");
}

}  // namespace
}  // namespace corvel
