// The PROXY protocol (versions 1 and 2, as HAProxy sends them) on connections from a
// load balancer named in <proxyfrom>: the header in front of the client's own bytes
// tells the client's address, which then stands for the peer everywhere.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

class Socket;

// A header must arrive whole within this long.
constexpr std::chrono::milliseconds kProxyHeaderLimit{5000};
// Longest version 1 header, "PROXY ... \r\n" (the protocol's own bound).
constexpr std::size_t kMaxProxyV1Bytes = 107;
// Longest version 2 header taken: the 16 fixed bytes and addresses with TLVs.
constexpr std::size_t kMaxProxyV2Bytes = 16 + 2048;

enum class ProxyParse { NeedMore, Invalid, Complete };

struct ProxyHeader {
    ProxyParse state = ProxyParse::NeedMore;
    std::size_t length = 0;     // Complete: the header's bytes
    std::string clientAddress;  // Complete: the client's address; empty for LOCAL/UNKNOWN
                                // (a health check: the connection's own peer counts)
};

// Parses what arrived so far (never more than the header needs to be decided).
ProxyHeader parseProxyHeader(std::string_view received);

// Whether connections from address must begin with a header.
bool comesThroughProxy(const std::vector<std::string>& proxyFrom, const std::string& address);

// Reads the header from socket (non-blocking) without reading a byte past it,
// within limit. The client's address, or the socket's own peer for LOCAL/UNKNOWN;
// nullopt when the header is missing, malformed, too long or too slow.
std::optional<std::string> readProxyHeader(Socket& socket, std::chrono::milliseconds limit = kProxyHeaderLimit);

}  // namespace corvel
