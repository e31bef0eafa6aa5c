// Bans of addresses that fail too often: the window, the length, the log lines, the
// handler that closes live sessions, the bounds on what is remembered, the sweep
// of what ran out, and the bans of an IPv6 /64.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "accounts/BanList.h"
#include "platform/SystemLog.h"

namespace corvel {
namespace {

using namespace std::chrono_literals;

struct RecordingLog : LogSink {
    void write(LogSeverity, const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

TEST(BanList, FailuresWithinTheWindowBanForTheLengthAndTheEndIsLogged) {
    RecordingLog log;
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    BanList bans(&log, [&] { return now; });
    std::vector<std::string> banned;
    EXPECT_FALSE(bans.enabled());
    EXPECT_FALSE(bans.recordFailure("192.0.2.1"));  // off until configured
    bans.configure(BanRules{3, 10min, 15min}, [&](const std::string& address) { banned.push_back(address); });
    EXPECT_TRUE(bans.enabled());

    EXPECT_FALSE(bans.recordFailure("192.0.2.1"));
    now += 6min;
    EXPECT_FALSE(bans.recordFailure("192.0.2.1"));
    now += 5min;  // the first failure left the window
    EXPECT_FALSE(bans.recordFailure("192.0.2.1"));
    EXPECT_FALSE(bans.isBanned("192.0.2.1"));
    EXPECT_TRUE(bans.recordFailure("192.0.2.1"));
    EXPECT_TRUE(bans.isBanned("192.0.2.1"));
    EXPECT_FALSE(bans.isBanned("192.0.2.2"));
    EXPECT_EQ(banned, std::vector<std::string>{"192.0.2.1"});
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "ban: address=192.0.2.1 for 15 minutes after 3 failed logins within 10 minutes");

    now += 14min;
    EXPECT_FALSE(bans.recordFailure("192.0.2.1"));  // no count while banned
    EXPECT_TRUE(bans.isBanned("192.0.2.1"));
    now += 1min;
    bans.sweep();
    EXPECT_EQ(log.lines.back(), "ban ended: address=192.0.2.1");
    EXPECT_FALSE(bans.isBanned("192.0.2.1"));
    EXPECT_EQ(log.lines.size(), 2u);  // ended once
}

TEST(BanList, AFloodOfAddressesIsForgottenOldestFirstButBansStay) {
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    BanList bans(nullptr, [&] { return now; });
    bans.configure(BanRules{2, 10min, 15min});
    bans.recordFailure("10.0.0.1");
    EXPECT_TRUE(bans.recordFailure("10.0.0.1"));
    for (std::size_t i = 0; i < kMaxWatchedAddresses + 10; ++i) {
        now += 1ms;
        bans.recordFailure("2001:db8::" + std::to_string(i));
    }
    EXPECT_TRUE(bans.isBanned("10.0.0.1"));
    // The oldest of the flood was forgotten: one more failure does not ban it.
    EXPECT_FALSE(bans.recordFailure("2001:db8::0"));
}


TEST(BanList, AHundredThousandAddressesKeepBothTablesWithinTheirBounds) {
    RecordingLog log;
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    BanList bans(&log, [&] { return now; });
    // Failing but never banned: the watched table stops at its bound.
    bans.configure(BanRules{3, 10min, 15min});
    for (std::size_t i = 0; i < 100000; ++i) bans.recordFailure("10." + std::to_string(i >> 16) + "." +
                                                               std::to_string((i >> 8) & 255) + "." +
                                                               std::to_string(i & 255));
    EXPECT_EQ(bans.watchedCount(), kMaxWatchedAddresses);
    EXPECT_EQ(bans.bannedCount(), 0u);

    // Banned at the first failure: the ban table stops at its bound too, the oldest
    // bans giving way (and logged as ended), the newest holding.
    bans.configure(BanRules{1, 10min, 15min});
    log.lines.clear();
    for (std::size_t i = 0; i < 100000; ++i) {
        now += 1ms;
        EXPECT_TRUE(bans.recordFailure("10.9." + std::to_string(i >> 8) + "." + std::to_string(i & 255)));
    }
    EXPECT_EQ(bans.bannedCount(), kMaxBannedAddresses);
    EXPECT_EQ(bans.watchedCount(), 0u);
    EXPECT_FALSE(bans.isBanned("10.9.0.0"));
    EXPECT_TRUE(bans.isBanned("10.9.390.159"));  // the last, 99,999 = 390 * 256 + 159
    EXPECT_FALSE(bans.isBanned("192.0.2.1"));
    EXPECT_EQ(log.lines.size(), 100000u + (100000u - kMaxBannedAddresses));
    EXPECT_EQ(log.lines[kMaxBannedAddresses], "ban ended: address=10.9.0.0");
}

TEST(BanList, ASweepForgetsWhatRanOutAndLogsEachEndOnce) {
    RecordingLog log;
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    BanList bans(&log, [&] { return now; });
    bans.configure(BanRules{2, 10min, 15min});
    bans.recordFailure("192.0.2.1");  // watched
    now += 5min;
    bans.recordFailure("192.0.2.2");
    EXPECT_TRUE(bans.recordFailure("192.0.2.2"));
    for (std::size_t i = 0; i < kMaxBanEndsPerSweep + 5; ++i) {
        bans.recordFailure("198.51." + std::to_string(i >> 8) + "." + std::to_string(i & 255));
        bans.recordFailure("198.51." + std::to_string(i >> 8) + "." + std::to_string(i & 255));
    }
    EXPECT_EQ(bans.watchedCount(), 1u);
    now += 6min;  // the lone failure left its window
    bans.sweep();
    EXPECT_EQ(bans.watchedCount(), 0u);
    EXPECT_EQ(bans.bannedCount(), kMaxBanEndsPerSweep + 6);
    log.lines.clear();
    now += 15min;
    bans.sweep();  // one sweep ends a bounded number of bans; the next the rest
    EXPECT_EQ(log.lines.size(), kMaxBanEndsPerSweep);
    EXPECT_EQ(log.lines.front(), "ban ended: address=192.0.2.2");
    EXPECT_FALSE(bans.isBanned("198.51.4.3"));  // ran out, though not swept yet
    bans.sweep();
    bans.sweep();
    EXPECT_EQ(bans.bannedCount(), 0u);
    EXPECT_EQ(log.lines.size(), kMaxBanEndsPerSweep + 6);
    EXPECT_EQ(log.lines.back(), "ban ended: address=198.51.4.4");
}

TEST(BanList, SeveralBannedAddressesOfOneIpv6Slash64BanAllOfIt) {
    RecordingLog log;
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    BanList bans(&log, [&] { return now; });
    std::vector<std::string> handled;
    bans.configure(BanRules{1, 10min, 15min}, [&](const std::string& address) { handled.push_back(address); });
    for (std::size_t i = 1; i < kBannedAddressesThatBanTheirPrefix; ++i)
        EXPECT_TRUE(bans.recordFailure("2001:db8:1:2::" + std::to_string(i)));
    EXPECT_FALSE(bans.isBanned("2001:db8:1:2::99"));
    EXPECT_TRUE(bans.recordFailure("2001:db8:1:2:aaaa::1"));
    EXPECT_EQ(log.lines.back(), "ban: address=2001:db8:1:2::/64 for 15 minutes after " +
                                    std::to_string(kBannedAddressesThatBanTheirPrefix) +
                                    " of its addresses were banned");
    EXPECT_TRUE(bans.isBanned("2001:db8:1:2:ffff:ffff:ffff:ffff"));
    EXPECT_FALSE(bans.recordFailure("2001:db8:1:2::77"));  // inside a banned /64: nothing more to count
    EXPECT_FALSE(bans.isBanned("2001:db8:1:3::1"));
    EXPECT_FALSE(bans.isBanned("::ffff:10.0.0.1"));
    EXPECT_EQ(handled.size(), kBannedAddressesThatBanTheirPrefix);
    // IPv4 addresses never make a network ban.
    for (int i = 1; i <= 10; ++i) bans.recordFailure("192.0.2." + std::to_string(i));
    EXPECT_FALSE(bans.isBanned("192.0.2.200"));
    now += 15min;
    bans.sweep();
    EXPECT_FALSE(bans.isBanned("2001:db8:1:2::99"));
    EXPECT_EQ(bans.bannedCount(), 0u);
}

}  // namespace
}  // namespace corvel
