#include <chrono>

#include <gtest/gtest.h>

#include "TempProgramDirectory.h"
#include "accounts/AccessPolicy.h"

namespace corvel {
namespace {

TEST(MatchPattern, DesignedExamples) {
    EXPECT_TRUE(matchPattern("192.168.*", "192.168.0.1"));
    EXPECT_TRUE(matchPattern("*.5", "10.0.0.5"));
    EXPECT_TRUE(matchPattern("*.5", "10.0.5.5"));
    EXPECT_FALSE(matchPattern("*.5", "10.0.0.50"));
    EXPECT_TRUE(matchPattern("10.0.0.?", "10.0.0.7"));
    EXPECT_FALSE(matchPattern("10.0.0.?", "10.0.0.10"));
    EXPECT_TRUE(matchPattern("*", "127.0.0.1"));
    EXPECT_FALSE(matchPattern("", "127.0.0.1"));
    EXPECT_TRUE(matchPattern("", ""));
    EXPECT_FALSE(matchPattern("192.168.1.*", "192.168.10.7"));
    EXPECT_TRUE(matchPattern("192.168.1.*", "192.168.1.7"));
    EXPECT_TRUE(matchPattern("1*1", "127.0.0.1"));
    EXPECT_FALSE(matchPattern("127.0.0.1", "127.0.0.10"));
}

TEST(MatchPattern, HostilePatternsStayFast) {
    std::string stars(100, '*');
    std::string text(4000, 'a');
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(matchPattern(stars, text));
    EXPECT_FALSE(matchPattern(stars + "b", text));
    std::string alternating;
    for (int i = 0; i < 50; ++i) alternating += "*a";
    EXPECT_FALSE(matchPattern(alternating + "b", text));
    EXPECT_FALSE(matchPattern(std::string(100, '?'), "1.2.3.4"));
    // Generous bound: a quadratic-per-star matcher takes far longer on these.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(AccessPolicy, ModesAndDefaults) {
    TempProgramDirectory dir;
    AccessPolicy policy(dir.directory());
    policy.load();  // writes the default: empty reject list admits everybody
    EXPECT_TRUE(policy.isAllowed("10.1.2.3"));
    EXPECT_NE(dir.read("ftpaccess.xml").find("REJECT"), std::string::npos);

    dir.write("ftpaccess.xml", "<access><iptable type=\"PASS\"></iptable></access>");
    policy.reload();
    EXPECT_FALSE(policy.isAllowed("127.0.0.1"));  // permit mode with no entries

    dir.write("ftpaccess.xml",
              "<a><iptable type=\"REJECT\"><ip value=\"192.168.1.*\"/><ip/><ip value=\"10.*\"/></iptable>"
              "<iptable type=\"PASS\"/></a>");
    policy.reload();
    EXPECT_FALSE(policy.isAllowed("192.168.1.7"));
    EXPECT_TRUE(policy.isAllowed("192.168.10.7"));
    EXPECT_FALSE(policy.isAllowed("10.0.0.1"));
    EXPECT_EQ(policy.patterns().size(), 2u);

    dir.write("ftpaccess.xml", "<a><iptable type=\"reject\"><ip value=\"127.0.0.1\"/></iptable></a>");
    policy.reload();
    EXPECT_TRUE(policy.permitMode());  // only the exact word REJECT rejects
    EXPECT_TRUE(policy.isAllowed("127.0.0.1"));
    EXPECT_FALSE(policy.isAllowed("127.0.0.2"));
}

TEST(AccessPolicy, MalformedFileIsKeptAsideAndReplaced) {
    TempProgramDirectory dir;
    dir.write("ftpaccess.xml", "<access><iptable");
    AccessPolicy policy(dir.directory());
    policy.load();
    EXPECT_EQ(dir.read("ftpaccess.xml.broken"), "<access><iptable");
    EXPECT_TRUE(policy.isAllowed("1.2.3.4"));
    EXPECT_NE(dir.read("ftpaccess.xml").find("iptable"), std::string::npos);
}

}  // namespace
}  // namespace corvel
