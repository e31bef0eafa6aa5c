// The sessions block: what the server writes is what corvelctl reads, cut to fit,
// and a list longer than the block says so.
#include <gtest/gtest.h>

#include <vector>

#include "common/SessionsBlock.h"

namespace corvel {
namespace {

TEST(SessionsBlock, ListsAndKickRequestsSurviveTheBlock) {
    std::vector<std::uint8_t> block(kSessionsBlockSize, 0xAB);
    const std::vector<SessionRecord> records = {
        {1, 1, 1796840247, 5000000000ull, "192.0.2.7", "alice"},
        {42, 2, 0, 0, "2001:db8::1", ""},
        {7, 1, -5, 1, std::string(100, 'a'), std::string(200, 'u')},  // cut to the room there is
    };
    encodeSessionList(records, block.data());
    const SessionList list = decodeSessionList(block.data());
    ASSERT_EQ(list.records.size(), 3u);
    EXPECT_FALSE(list.truncated);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(list.records[i].id, records[i].id);
        EXPECT_EQ(list.records[i].protocol, records[i].protocol);
        EXPECT_EQ(list.records[i].since, records[i].since);
        EXPECT_EQ(list.records[i].bytes, records[i].bytes);
        EXPECT_EQ(list.records[i].address, records[i].address);
        EXPECT_EQ(list.records[i].user, records[i].user);
    }
    EXPECT_EQ(list.records[2].since, -5);
    EXPECT_EQ(list.records[2].address, std::string(kSessionAddressBytes, 'a'));
    EXPECT_EQ(list.records[2].user, std::string(kSessionUserBytes, 'u'));

    std::vector<SessionRecord> many(kSessionRecords + 3, SessionRecord{9, 1, 0, 0, "a", "u"});
    encodeSessionList(many, block.data());
    EXPECT_EQ(decodeSessionList(block.data()).records.size(), kSessionRecords);
    EXPECT_TRUE(decodeSessionList(block.data()).truncated);

    encodeKickRequest({0, "bob"}, block.data());
    encodeKickAnswer(3, block.data());
    EXPECT_EQ(decodeKickRequest(block.data()).id, 0u);
    EXPECT_EQ(decodeKickRequest(block.data()).user, "bob");
    EXPECT_EQ(decodeKickAnswer(block.data()), 3u);
    encodeKickRequest({12345678901ull, ""}, block.data());
    EXPECT_EQ(decodeKickRequest(block.data()).id, 12345678901ull);
    EXPECT_EQ(decodeKickRequest(block.data()).user, "");
    EXPECT_EQ(decodeSessionList(block.data()).records.size(), kSessionRecords);  // the list is left alone
}

}  // namespace
}  // namespace corvel
