// The status panel's text and tile for live, idle and stopped servers.

#include "console/logic/StatusLines.h"

#include <gtest/gtest.h>

namespace corvel {
namespace {

using Lines = std::vector<std::string>;

StatusSnapshot liveSnapshot() {
    StatusSnapshot snapshot;
    snapshot.available = true;
    snapshot.bindAddress = "10.0.0.5";
    snapshot.ftpPort = 21;
    snapshot.webPort = 8080;
    snapshot.maxConnections = 32;
    snapshot.currentConnections = 2;
    snapshot.startTime = 1000;
    return snapshot;
}

const LocalHost kHost{"ftp.example.org", {"192.0.2.1", "198.51.100.2"}};

TEST(StatusLines, ShowSevenAlignedLinesForARunningServer) {
    EXPECT_EQ(statusLines(liveSnapshot(), kHost, 1000 + 3 * 3600 + 7 * 60 + 59),
              (Lines{"LOCALHOST NAME: ftp.example.org", "LOCALHOST   IP: 10.0.0.5", "      FTP PORT: 21",
                     "      WEB PORT: 8080", "  MAX SIM CONN: 32", "  CURRENT CONN: 2", "   HAS RUN FOR: 3:07"}));
}

TEST(StatusLines, ListEveryLocalAddressWithATrailingBlankWhenListeningOnAll) {
    StatusSnapshot snapshot = liveSnapshot();
    snapshot.bindAddress.clear();
    EXPECT_EQ(statusLines(snapshot, kHost, 1000)[1], "LOCALHOST   IP: 192.0.2.1 198.51.100.2 ");
    EXPECT_EQ(statusLines(snapshot, LocalHost{"lonely", {}}, 1000)[1], "LOCALHOST   IP: ");
}

TEST(StatusLines, PrintPortsAboveSignedRangeAsPositive) {
    StatusSnapshot snapshot = liveSnapshot();
    snapshot.ftpPort = 65535;
    snapshot.webPort = 32768;
    snapshot.maxConnections = 40000;
    const Lines lines = statusLines(snapshot, kHost, 1000);
    EXPECT_EQ(lines[2], "      FTP PORT: 65535");
    EXPECT_EQ(lines[3], "      WEB PORT: 32768");
    EXPECT_EQ(lines[4], "  MAX SIM CONN: 40000");
}

TEST(StatusLines, ShowOnlyTheStoppedLineWithoutAServer) {
    EXPECT_EQ(statusLines(StatusSnapshot{}, kHost, 1000), (Lines{"CorvelFtp Service is stoped."}));
}

TEST(RunningTime, CountsHoursBeyondADay) {
    EXPECT_EQ(runningTimeText(0, 90061), "25:01");
    EXPECT_EQ(runningTimeText(500, 500), "0:00");
    EXPECT_EQ(runningTimeText(500, 500 + 59), "0:00");
    EXPECT_EQ(runningTimeText(500, 500 + 3599), "0:59");
    EXPECT_EQ(runningTimeText(500, 500 + 3600), "1:00");
}

TEST(RunningTime, WrapsLikeTheUnsignedFieldsWhenTheStartLiesAhead) {
    // A clock set back by one minute: the unsigned difference is huge, not negative.
    EXPECT_EQ(runningTimeText(1060, 1000), "1193046:27");
    // A zero start time (a status read that timed out) counts from 1970.
    EXPECT_EQ(runningTimeText(0, 1700000000), "472222:13");
}

TEST(StatusTile, IsGreyWithoutAServerGreenWithConnectionsBlueOtherwise) {
    EXPECT_EQ(statusTileFor(StatusSnapshot{}), StatusTile::Grey);
    StatusSnapshot snapshot = liveSnapshot();
    EXPECT_EQ(statusTileFor(snapshot), StatusTile::Green);
    snapshot.currentConnections = 0;
    EXPECT_EQ(statusTileFor(snapshot), StatusTile::Blue);
    // The count is taken as unsigned: anything but zero is "connections open".
    snapshot.currentConnections = -1;
    EXPECT_EQ(statusTileFor(snapshot), StatusTile::Green);
}

}  // namespace
}  // namespace corvel
