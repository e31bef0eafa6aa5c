// Bans of addresses that fail too often: the window, the length, the log lines, the
// handler that closes live sessions, and the bound on what is remembered.
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

}  // namespace
}  // namespace corvel
