#include "server/ProxyProtocol.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "accounts/AccessPolicy.h"
#include "platform/Socket.h"

namespace corvel {
namespace {

constexpr std::string_view kV1Prefix = "PROXY ";
constexpr unsigned char kV2Signature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t space = line.find(' ', start);
        if (space == std::string_view::npos) space = line.size();
        out.emplace_back(line.substr(start, space - start));
        start = space + 1;
    }
    return out;
}

bool isPort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    return std::stoul(text) <= 65535;
}

ProxyHeader parseV1(std::string_view received) {
    ProxyHeader header;
    const std::size_t lineFeed = received.find('\n');
    if (lineFeed == std::string_view::npos) {
        header.state = received.size() >= kMaxProxyV1Bytes ? ProxyParse::Invalid : ProxyParse::NeedMore;
        return header;
    }
    if (lineFeed + 1 > kMaxProxyV1Bytes || lineFeed == 0 || received[lineFeed - 1] != '\r') {
        header.state = ProxyParse::Invalid;
        return header;
    }
    const std::vector<std::string> w = words(received.substr(kV1Prefix.size(), lineFeed - 1 - kV1Prefix.size()));
    header.length = lineFeed + 1;
    if (!w.empty() && w[0] == "UNKNOWN") {
        header.state = ProxyParse::Complete;  // the rest of the line is to be ignored
        return header;
    }
    // SECURITY: exactly "TCP4|TCP6 source destination sport dport", addresses checked.
    const bool fits = w.size() == 5 && ((w[0] == "TCP4" && isValidIpv4(w[1]) && isValidIpv4(w[2])) ||
                                        (w[0] == "TCP6" && isValidIpv6(w[1]) && isValidIpv6(w[2]))) &&
                      isPort(w[3]) && isPort(w[4]);
    if (!fits) {
        header.state = ProxyParse::Invalid;
        return header;
    }
    header.state = ProxyParse::Complete;
    header.clientAddress = w[0] == "TCP4" ? w[1] : canonicalIpv6(w[1]);
    return header;
}

ProxyHeader parseV2(std::string_view received) {
    ProxyHeader header;
    if (received.size() < 16) return header;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(received[i]); };
    const std::size_t length = (std::size_t{byte(14)} << 8) | byte(15);
    const unsigned version = byte(12) >> 4, command = byte(12) & 0x0F;
    if (version != 2 || command > 1 || 16 + length > kMaxProxyV2Bytes) {
        header.state = ProxyParse::Invalid;
        return header;
    }
    if (received.size() < 16 + length) return header;
    header.state = ProxyParse::Complete;
    header.length = 16 + length;
    if (command == 0) return header;  // LOCAL: the balancer's own connection (health check)
    const unsigned family = byte(13);
    char text[64] = {};
    if (family == 0x11) {  // TCP over IPv4: source, destination, ports
        if (length < 12) {
            header.state = ProxyParse::Invalid;
            return header;
        }
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", byte(16), byte(17), byte(18), byte(19));
        header.clientAddress = text;
    } else if (family == 0x21) {  // TCP over IPv6
        if (length < 36) {
            header.state = ProxyParse::Invalid;
            return header;
        }
        std::string hex;
        for (std::size_t i = 0; i < 16; i += 2) {
            std::snprintf(text, sizeof text, "%s%x", i ? ":" : "", (unsigned{byte(16 + i)} << 8) | byte(17 + i));
            hex += text;
        }
        header.clientAddress = canonicalIpv6(hex);
    }
    // UNSPEC and the other families carry no TCP client: the connection's own peer counts.
    return header;
}

}  // namespace

ProxyHeader parseProxyHeader(std::string_view received) {
    ProxyHeader header;
    if (received.empty()) return header;
    if (received[0] == 'P') {
        const std::size_t known = std::min(received.size(), kV1Prefix.size());
        if (received.substr(0, known) != kV1Prefix.substr(0, known)) header.state = ProxyParse::Invalid;
        else if (received.size() >= kV1Prefix.size()) header = parseV1(received);
        return header;
    }
    const std::size_t known = std::min(received.size(), sizeof kV2Signature);
    if (!std::equal(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(known), kV2Signature,
                    [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; })) {
        header.state = ProxyParse::Invalid;
        return header;
    }
    return parseV2(received);
}

bool comesThroughProxy(const std::vector<std::string>& proxyFrom, const std::string& address) {
    for (const std::string& pattern : proxyFrom)
        if (matchPattern(pattern, address)) return true;
    return false;
}

std::optional<std::string> readProxyHeader(Socket& socket, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::string received;
    std::array<char, kMaxProxyV2Bytes> chunk{};
    for (;;) {
        const ProxyHeader header = parseProxyHeader(received);
        if (header.state == ProxyParse::Invalid) return std::nullopt;
        if (header.state == ProxyParse::Complete)
            return header.clientAddress.empty() ? socket.peerAddress() : header.clientAddress;
        // Ask only for bytes the header still needs: one at a time for a text line,
        // the fixed part and then exactly the announced length for version 2.
        std::size_t want = 1;
        if (!received.empty() && received[0] != 'P') {
            want = received.size() < 16
                       ? 16 - received.size()
                       : 16 + ((std::size_t{static_cast<unsigned char>(received[14])} << 8) |
                               static_cast<unsigned char>(received[15])) -
                             received.size();
        }
        const IoResult r = socket.receive(chunk.data(), std::min(want, chunk.size()));
        if (r.ok()) {
            received.append(chunk.data(), r.bytes);
            continue;
        }
        if (r.state != IoState::WouldBlock) return std::nullopt;  // closed or failed before the header was whole
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        if (socket.waitReadable(static_cast<int>(std::min<long long>(left.count(), kWaitStepMs))) ==
            WaitResult::Failed)
            return std::nullopt;
    }
}

}  // namespace corvel
