// The live sessions table: ids, rows and their accounts and bytes, leaving, and kicks
// that end a session's connections (a running transfer's too) from another thread.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "accounts/LiveSessions.h"
#include "platform/Socket.h"
#include "support/ScratchFiles.h"

namespace corvel {
namespace {

using testing::SocketPair;

// Whether the far end reads the end of the stream now (the near end was shut down).
bool sawEnd(Socket& far) {
    char byte;
    return ::recv(far.descriptor(), &byte, 1, MSG_DONTWAIT) == 0;
}

TEST(LiveSessions, RowsCarryIdsAccountsAndFinishedBytesUntilTheEntryGoes) {
    LiveSessions table;
    SocketPair first, second;
    auto ftp = table.join(SessionProtocol::Ftp, "192.0.2.7", first.near);
    auto web = table.join(SessionProtocol::Web, "198.51.100.1", second.near);
    EXPECT_EQ(ftp->id(), 1u);
    EXPECT_EQ(web->id(), 2u);
    ftp->setUser("alice");
    SocketPair data;
    ftp->transferStarted(data.near);
    ftp->transferEnded(1000);
    ftp->transferEnded(24);

    std::vector<LiveSessionRow> rows = table.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, 1u);
    EXPECT_EQ(rows[0].protocol, SessionProtocol::Ftp);
    EXPECT_EQ(rows[0].user, "alice");
    EXPECT_EQ(rows[0].address, "192.0.2.7");
    EXPECT_EQ(rows[0].bytes, 1024u);  // no TCP here: the socket pair counts nothing live
    EXPECT_GT(rows[0].since, 0);
    EXPECT_EQ(rows[1].user, "");
    EXPECT_EQ(rows[1].protocol, SessionProtocol::Web);

    ftp.reset();
    rows = table.rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, 2u);
    EXPECT_EQ(table.kick(1), 0u);  // gone, and ids are never given again
    SocketPair third;
    EXPECT_EQ(table.join(SessionProtocol::Ftp, "192.0.2.8", third.near)->id(), 3u);
}

TEST(LiveSessions, KicksShutTheConnectionsAndTheRunningTransferDown) {
    LiveSessions table;
    SocketPair aliceFtp, aliceData, aliceWeb, bob;
    auto ftp = table.join(SessionProtocol::Ftp, "192.0.2.7", aliceFtp.near);
    auto web = table.join(SessionProtocol::Web, "192.0.2.7", aliceWeb.near);
    auto other = table.join(SessionProtocol::Ftp, "192.0.2.9", bob.near);
    ftp->setUser("alice");
    web->setUser("alice");
    other->setUser("bob");
    ftp->transferStarted(aliceData.near);

    EXPECT_EQ(table.kickUser("nobody"), 0u);
    EXPECT_EQ(table.kickUser("alice"), 2u);
    EXPECT_TRUE(sawEnd(aliceFtp.far));
    EXPECT_TRUE(sawEnd(aliceData.far));
    EXPECT_TRUE(sawEnd(aliceWeb.far));
    EXPECT_FALSE(sawEnd(bob.far));
    // The session's own descriptors are not closed by it: the session still owns them.
    EXPECT_TRUE(aliceFtp.near.isOpen());

    EXPECT_EQ(table.kick(other->id()), 1u);
    EXPECT_TRUE(sawEnd(bob.far));
}

}  // namespace
}  // namespace corvel
