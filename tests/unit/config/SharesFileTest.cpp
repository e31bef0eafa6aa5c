// ftpshares.xml: links read and written with what the file holds besides them kept,
// tokens that never appear in it, and the expiry dates the page and corvelctl take.
#include <gtest/gtest.h>

#include <set>

#include "config/SharesFile.h"
#include "tests/unit/accounts/TempProgramDirectory.h"

namespace corvel {
namespace {

TEST(SharesFile, KeepsWhatItDoesNotKnowAndSkipsIncompleteElements) {
    SharesFile file = SharesFile::parse(
        "<shares site=\"main\"><!-- links --><share id=\"a1\" token_sha256=\"d1\" owner=\"alice\" path=\"docs\" "
        "kind=\"folder\" uses=\"3\" max_uses=\"5\" note=\"keep\"><extra/></share>"
        "<share id=\"b2\" token_sha256=\"d2\" owner=\"bob\" kind=\"teleport\"/>"
        "<share id=\"c3\" owner=\"carol\" kind=\"file\"/><other/></shares>");
    ASSERT_TRUE(file.loaded());
    std::vector<ShareLink> links = file.links();
    ASSERT_EQ(links.size(), 1u);  // an unknown kind and a missing digest are no link
    EXPECT_EQ(links[0].kind, ShareKind::Folder);
    EXPECT_EQ(links[0].uses, 3);
    EXPECT_FALSE(links[0].usedUp());
    ASSERT_TRUE(file.setUses("a1", 5));
    EXPECT_TRUE(file.links()[0].usedUp());
    EXPECT_FALSE(file.setUses("zz", 1));

    ShareLink added{"e5", "d5", "erin", "", ShareKind::DropBox, 100, 200, "", 0, 0};
    file.add(added);
    EXPECT_TRUE(file.remove("c3"));
    EXPECT_FALSE(file.remove("c3"));
    TempProgramDirectory dir;
    ASSERT_TRUE(file.save(dir.file("ftpshares.xml")));
    const std::string text = dir.read("ftpshares.xml");
    EXPECT_NE(text.find("site=\"main\""), std::string::npos);
    EXPECT_NE(text.find("<!-- links -->"), std::string::npos);
    EXPECT_NE(text.find("note=\"keep\""), std::string::npos);
    EXPECT_NE(text.find("<extra />"), std::string::npos);
    EXPECT_NE(text.find("kind=\"teleport\""), std::string::npos);
    EXPECT_NE(text.find("<other />"), std::string::npos);
    EXPECT_EQ(text.find("carol"), std::string::npos);
    const std::vector<ShareLink> again = SharesFile::read(dir.file("ftpshares.xml")).links();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].owner, "erin");
    EXPECT_EQ(again[1].kind, ShareKind::DropBox);
    EXPECT_TRUE(again[1].expiredAt(200));
    EXPECT_FALSE(again[1].expiredAt(199));
}

TEST(SharesFile, AMissingFileIsEmptyAndABrokenOneStaysUnreadable) {
    TempProgramDirectory dir;
    EXPECT_TRUE(SharesFile::readOrEmpty(dir.file("ftpshares.xml")).loaded());
    dir.write("ftpshares.xml", "<shares><share");
    EXPECT_EQ(SharesFile::readOrEmpty(dir.file("ftpshares.xml")).status(), FileRead::Unreadable);
}

TEST(ShareSecrets, TokensAreRandomUrlSafeAndOnlyTheirDigestFindsThem) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::optional<ShareSecret> secret = newShareSecret();
        ASSERT_TRUE(secret);
        EXPECT_TRUE(isShareTokenText(secret->token)) << secret->token;
        EXPECT_EQ(secret->digest.size(), 64u);
        EXPECT_EQ(secret->id.size(), 12u);
        EXPECT_TRUE(seen.insert(secret->token).second);
    }
    // SHA-256 of "abc".
    EXPECT_EQ(shareTokenDigest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const ShareSecret secret = *newShareSecret();
    SharesFile file = SharesFile::empty();
    file.add(ShareLink{secret.id, secret.digest, "alice", "a.txt", ShareKind::File, 1, 0, "", 0, 0});
    ASSERT_TRUE(file.findByToken(secret.token));
    EXPECT_EQ(file.findByToken(secret.token)->id, secret.id);
    EXPECT_FALSE(file.findByToken(secret.digest));
    EXPECT_FALSE(file.findByToken(secret.token.substr(1) + "A"));
    EXPECT_FALSE(isShareTokenText(secret.token + "A"));
    EXPECT_FALSE(isShareTokenText(std::string(32, '/')));
}

TEST(ShareExpiry, ADateLastsThroughItsDayInUtc) {
    EXPECT_EQ(shareExpiryOfDate("1970-01-01"), 86400);
    EXPECT_EQ(shareExpiryOfDate("2024-02-29"), 1709251200);  // 2024-03-01T00:00:00Z
    for (const char* bad : {"2023-02-29", "2024-13-01", "2024-00-10", "2024-1-01", "1969-12-31", "2024-01-32",
                            "tomorrow", "", "2024-01-01T00:00"})
        EXPECT_FALSE(shareExpiryOfDate(bad)) << bad;
    EXPECT_EQ(shareTimeText(1709251200), "2024-03-01 00:00 UTC");
    EXPECT_EQ(shareTimeText(86399), "1970-01-01 23:59 UTC");
}

}  // namespace
}  // namespace corvel
