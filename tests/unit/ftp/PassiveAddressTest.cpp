// Which address a PASV reply announces: the server's own to clients of the same
// network, the configured one to the others, with host names looked up once a minute.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "ftp/PassiveAddress.h"

namespace corvel {
namespace {

using namespace std::chrono_literals;

TEST(PassiveAddress, NearbyPeersGetTheServersOwnAddress) {
    for (const char* nearby : {"127.0.0.1", "10.1.2.3", "172.16.0.9", "172.31.255.1", "192.168.1.20", "169.254.3.4",
                               "100.64.0.1", "100.127.255.254"})
        EXPECT_TRUE(isNearbyAddress(nearby)) << nearby;
    for (const char* away : {"172.15.0.1", "172.32.0.1", "100.63.255.255", "100.128.0.1", "8.8.8.8", "192.169.1.1",
                             "not an address", "::1"})
        EXPECT_FALSE(isNearbyAddress(away)) << away;

    int lookups = 0;
    PassiveAddress fixed("203.0.113.5", [&](const std::string&) { return ++lookups, std::string("x"); });
    EXPECT_EQ(fixed.announcedFor("192.168.1.20", "192.168.1.2"), "192.168.1.2");
    EXPECT_EQ(fixed.announcedFor("198.51.100.9", "192.168.1.2"), "203.0.113.5");
    EXPECT_EQ(lookups, 0);  // a literal is never looked up
    PassiveAddress none("", [&](const std::string&) { return ++lookups, std::string("x"); });
    EXPECT_EQ(none.announcedFor("198.51.100.9", "192.168.1.2"), "192.168.1.2");
}

TEST(PassiveAddress, AHostNameIsLookedUpAgainAtMostOnceAMinute) {
    auto now = std::chrono::steady_clock::time_point{} + 1h;
    std::string answer = "203.0.113.5";
    int lookups = 0;
    PassiveAddress dynamic(
        "office.example.org",
        [&](const std::string& name) {
            EXPECT_EQ(name, "office.example.org");
            ++lookups;
            return answer;
        },
        [&] { return now; });
    EXPECT_EQ(dynamic.announcedFor("198.51.100.9", "10.0.0.2"), "203.0.113.5");
    answer = "203.0.113.77";  // the router got a new address
    now += 59s;
    EXPECT_EQ(dynamic.announcedFor("198.51.100.9", "10.0.0.2"), "203.0.113.5");
    EXPECT_EQ(lookups, 1);
    now += 2s;
    EXPECT_EQ(dynamic.announcedFor("198.51.100.9", "10.0.0.2"), "203.0.113.77");
    EXPECT_EQ(lookups, 2);
    // A failed lookup keeps the last good address.
    answer.clear();
    now += 61s;
    EXPECT_EQ(dynamic.announcedFor("198.51.100.9", "10.0.0.2"), "203.0.113.77");
    // A name never resolved gives the server's own address.
    PassiveAddress unknown("nowhere.invalid", [](const std::string&) { return std::string(); });
    EXPECT_EQ(unknown.announcedFor("198.51.100.9", "10.0.0.2"), "10.0.0.2");
}

}  // namespace
}  // namespace corvel
