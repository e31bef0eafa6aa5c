// PASV, PORT, EPSV and EPRT: setting up the one data connection the next transfer uses.
#include <cstdio>
#include <vector>

#include "common/AsciiText.h"
#include "ftp/FtpReplies.h"
#include "ftp/FtpSession.h"

namespace corvel {
namespace {

// Reads "%d,%d,%d,%d,%d,%d": each number after optional blanks and a sign. Returns
// how many numbers were read before the text stopped matching.
int scanPortNumbers(const std::string& text, long long (&numbers)[6]) {
    std::size_t i = 0;
    for (int n = 0; n < 6; ++n) {
        if (n > 0) {
            if (i >= text.size() || text[i] != ',') return n;
            ++i;
        }
        while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return n;
        long long value = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            if (value < (1LL << 40)) value = value * 10 + (text[i] - '0');  // bounded; only low bits matter
        numbers[n] = negative ? -value : value;
    }
    return 6;
}

// EPRT's port: decimal 1..65535.
std::optional<std::uint16_t> eprtPort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const unsigned long port = std::stoul(text);
    if (port == 0 || port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

}  // namespace

void FtpSession::handlePasv(const std::string&) {
    // PASV speaks IPv4 only (RFC 959); IPv6 clients use EPSV.
    if (!context_.passiveMode || isIpv6Peer() || extendedPassiveOnly_) {
        reply(replies::kNoDataConnection);
        return;
    }
    const std::string announced =
        context_.passiveAddress ? context_.passiveAddress->announcedFor(peerAddress_, localAddress_) : localAddress_;
    (void)data_.listenPassive([&](std::uint16_t port) { return replies::passiveMode(announced, port); });
}

void FtpSession::handleEpsv(const std::string& argument) {
    if (!context_.passiveMode) {
        reply(replies::kNoDataConnection);
        return;
    }
    const char* protocol = isIpv6Peer() ? "2" : "1";
    if (equalsIgnoringAsciiCase(argument, "ALL")) {
        // RFC 2428: from now on only EPSV sets up data connections.
        extendedPassiveOnly_ = true;
        reply(replies::kEpsvAll);
        return;
    }
    // RFC 2428, 3: any network protocol number but the connection's own gets 522;
    // only what is no number at all is a syntax error.
    if (!argument.empty() && argument != protocol) {
        const bool protocolNumber = argument.find_first_not_of("0123456789") == std::string::npos;
        reply(protocolNumber ? replies::networkProtocolNotSupported(protocol) : std::string(replies::kSyntaxError));
        return;
    }
    (void)data_.listenPassive([](std::uint16_t port) { return replies::extendedPassiveMode(port); });
}

void FtpSession::handlePort(const std::string& argument) {
    long long n[6] = {};
    if (scanPortNumbers(argument, n) < 6) {
        reply(replies::kSyntaxError);
        return;
    }
    // PORT speaks IPv4 only; after EPSV ALL only EPSV may set up data connections.
    if (isIpv6Peer() || extendedPassiveOnly_) {
        data_.close();
        reply(replies::kNoDataConnection);
        return;
    }
    char address[64];
    std::snprintf(address, sizeof address, "%lld.%lld.%lld.%lld", n[0] % 65536, n[1] % 65536, n[2] % 65536,
                  n[3] % 65536);
    auto port = static_cast<std::uint16_t>(n[4] * 256 + n[5]);
    if (data_.connectActive(address, port)) reply(replies::kPortSuccessful);
}

void FtpSession::handleEprt(const std::string& argument) {
    if (extendedPassiveOnly_) {
        data_.close();
        reply(replies::kNoDataConnection);
        return;
    }
    // |protocol|address|port| with any delimiter the client picks (RFC 2428).
    std::vector<std::string> fields;
    if (argument.size() >= 2) {
        const char delimiter = argument[0];
        std::size_t start = 1;
        for (std::size_t i = 1; i < argument.size(); ++i) {
            if (argument[i] != delimiter) continue;
            fields.push_back(argument.substr(start, i - start));
            start = i + 1;
        }
        if (start != argument.size()) fields.clear();  // text after the last delimiter
    }
    if (fields.size() != 3) {
        reply(replies::kSyntaxError);
        return;
    }
    const std::string& protocol = fields[0];
    if (protocol != "1" && protocol != "2") {
        reply(replies::networkProtocolNotSupported(isIpv6Peer() ? "2" : "1"));
        return;
    }
    const std::optional<std::uint16_t> port = eprtPort(fields[2]);
    const bool addressFits = protocol == "1" ? isValidIpv4(fields[1]) : isValidIpv6(fields[1]);
    if (!port || !addressFits) {
        reply(replies::kSyntaxError);
        return;
    }
    // The address as peer addresses are written, so the bounce check compares like with like.
    const std::string address = protocol == "1" ? fields[1] : canonicalIpv6(fields[1]);
    if (data_.connectActive(address, *port)) reply(replies::kEprtSuccessful);
}

bool FtpSession::isIpv6Peer() const { return peerAddress_.find(':') != std::string::npos; }

}  // namespace corvel
