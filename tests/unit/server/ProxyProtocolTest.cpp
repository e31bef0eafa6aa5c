// PROXY protocol headers as HAProxy sends them, in both versions: the client address
// they carry, every malformed form refused, and not one byte read past the header.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <string>
#include <thread>

#include "platform/Socket.h"
#include "server/ProxyProtocol.h"

namespace corvel {
namespace {

std::string v2(unsigned char command, unsigned char family, const std::string& addresses) {
    std::string header("\r\n\r\n\0\r\nQUIT\n", 12);
    header += static_cast<char>(0x20 | command);
    header += static_cast<char>(family);
    header += static_cast<char>(addresses.size() >> 8);
    header += static_cast<char>(addresses.size() & 0xFF);
    return header + addresses;
}

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out += static_cast<char>(v);
    return out;
}

TEST(ProxyProtocol, HeadersOfBothVersionsGiveTheClientAddress) {
    struct Case {
        std::string header;
        std::string client;
    } cases[] = {
        {"PROXY TCP4 203.0.113.7 10.0.0.2 51234 21\r\n", "203.0.113.7"},
        {"PROXY TCP6 2001:DB8::7 2001:db8::2 51234 21\r\n", "2001:db8::7"},
        {"PROXY UNKNOWN\r\n", ""},
        {"PROXY UNKNOWN ffff:f::f ffff:f::f 1 2\r\n", ""},
        {v2(1, 0x11, bytes({198, 51, 100, 9, 10, 0, 0, 2, 0xC8, 0x01, 0, 21})), "198.51.100.9"},
        {v2(1, 0x21, bytes({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 0x20, 0x01, 0x0d, 0xb8, 0, 0,
                            0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0xC8, 0x01, 0, 21})),
         "2001:db8::7"},
        {v2(1, 0x11, bytes({192, 0, 2, 1, 10, 0, 0, 2, 0, 1, 0, 21, 0x05, 0, 2, 'i', 'd'})), "192.0.2.1"},  // a TLV
        {v2(0, 0x00, ""), ""},  // LOCAL: a health check
        {v2(1, 0x00, ""), ""},  // UNSPEC
    };
    for (const Case& c : cases) {
        ProxyHeader whole = parseProxyHeader(c.header + "USER alice\r\n");
        ASSERT_EQ(whole.state, ProxyParse::Complete) << c.header;
        EXPECT_EQ(whole.length, c.header.size()) << c.header;
        EXPECT_EQ(whole.clientAddress, c.client) << c.header;
        // Cut anywhere before its end: more is needed, and nothing is decided wrongly.
        for (std::size_t cut = 0; cut < c.header.size(); ++cut)
            EXPECT_EQ(parseProxyHeader(c.header.substr(0, cut)).state, ProxyParse::NeedMore) << c.header << cut;
    }
}

TEST(ProxyProtocol, MalformedHeadersAreRefused) {
    for (const std::string& bad : {
             std::string("USER alice\r\n"),
             std::string("GET / HTTP/1.1\r\n"),
             std::string("PROXY TCP4 203.0.113.7 10.0.0.2 51234\r\n"),
             std::string("PROXY TCP4 300.0.113.7 10.0.0.2 51234 21\r\n"),
             std::string("PROXY TCP4 203.0.113.7 10.0.0.2 51234 70000\r\n"),
             std::string("PROXY TCP6 203.0.113.7 10.0.0.2 1 2\r\n"),
             std::string("PROXY TCP4 203.0.113.7 10.0.0.2 1 2\n"),  // no CR
             // An address with a NUL and more behind it (found by the fuzz target).
             std::string("PROXY TCP4 192.0.2.7\0\0\r 10.0.0.1 51234 21\r\n", 43),
             std::string("PROXY TCP6 ::1\0x ::1 1 2\r\n", 26),
             "PROXY " + std::string(200, 'x'),                      // never ends
             v2(2, 0x11, std::string(12, '\0')),                    // unknown command
             "\r\n\r\n\0\r\nQUIT\n\x11\x11\0\x0c" + std::string(12, '\0'),  // version 1 in a v2 signature
             v2(1, 0x11, std::string(8, '\0')),                    // addresses too short
             v2(1, 0x11, std::string(kMaxProxyV2Bytes, '\0')),     // longer than taken
         })
        EXPECT_EQ(parseProxyHeader(bad).state, ProxyParse::Invalid) << bad;
    EXPECT_TRUE(comesThroughProxy({"10.0.0.*", "192.0.2.1"}, "10.0.0.9"));
    EXPECT_FALSE(comesThroughProxy({"10.0.0.*"}, "10.0.1.9"));
    EXPECT_FALSE(comesThroughProxy({}, "10.0.0.9"));
}

TEST(ProxyProtocol, ReadingStopsAtTheHeadersEndAndIsBoundedInTime) {
    for (const std::string& header :
         {std::string("PROXY TCP4 203.0.113.7 10.0.0.2 51234 21\r\n"), v2(1, 0x11, std::string(12, '\x01'))}) {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        Socket near(fds[0]), far(fds[1]);
        ASSERT_TRUE(near.setNonBlocking());
        std::thread writer([&] {
            for (char c : header + "NOOP\r\n") {  // byte by byte, as a slow network might
                ASSERT_EQ(far.send(&c, 1).bytes, 1u);
            }
        });
        std::optional<std::string> client = readProxyHeader(near);
        writer.join();
        ASSERT_TRUE(client);
        char rest[16] = {};
        EXPECT_EQ(near.receive(rest, sizeof rest).bytes, 6u);
        EXPECT_EQ(std::string(rest, 6), "NOOP\r\n");
    }
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Socket near(fds[0]), far(fds[1]);
    ASSERT_TRUE(near.setNonBlocking());
    ASSERT_EQ(far.send("PROXY TCP4", 10).bytes, 10u);  // and then nothing more
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(readProxyHeader(near, std::chrono::milliseconds(200)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace
}  // namespace corvel
