// Fuzzes parseProxyHeader, the reading of the PROXY header (versions 1 and 2) a
// balancer of <proxyfrom> puts in front of its client's bytes.
//
// Input: the bytes that arrived so far.
// Checked: the same input gives the same header; a complete header lies inside the
// input and within the protocol's bound, and the bytes after it change nothing; a
// client address is a valid address in the form peers are written in; a header that
// needs more bytes is short, and so is every start of it; an invalid one stays
// invalid whatever follows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/Socket.h"
#include "server/ProxyProtocol.h"

namespace {

bool sameHeader(const corvel::ProxyHeader& a, const corvel::ProxyHeader& b) {
    return a.state == b.state && a.length == b.length && a.clientAddress == b.clientAddress;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const ProxyHeader header = parseProxyHeader(input);
    check(sameHeader(parseProxyHeader(input), header), "the same input gives the same header");
    const std::string longer = std::string(input) + "\r\nPROXY \x0d\x0a";
    switch (header.state) {
        case ProxyParse::Complete: {
            check(header.length > 0 && header.length <= size, "a header lies inside what arrived");
            check(header.length <= kMaxProxyV2Bytes, "a header stays within the protocol's bound");
            if (input[0] == 'P') check(header.length <= kMaxProxyV1Bytes, "a version 1 line stays within 107 bytes");
            check(sameHeader(parseProxyHeader(input.substr(0, header.length)), header),
                  "the header alone reads the same");
            check(sameHeader(parseProxyHeader(longer), header), "bytes after the header change nothing");
            const std::string& client = header.clientAddress;
            if (!client.empty()) {
                check(isValidIpv4(client) || isValidIpv6(client), "a client address is an address");
                if (client.find(':') != std::string::npos)
                    check(canonicalIpv6(client) == client, "an IPv6 client is written as peers are");
                check(client.find_first_of(std::string_view(" \r\n\t\0", 5)) == std::string::npos,
                      "an address holds no blanks and no NUL");
            }
            break;
        }
        case ProxyParse::NeedMore:
            check(header.length == 0 && header.clientAddress.empty(), "nothing is told before the header is whole");
            check(size < kMaxProxyV2Bytes, "a header never waits past its bound");
            if (size > 0)
                check(parseProxyHeader(input.substr(0, size - 1)).state == ProxyParse::NeedMore,
                      "every start of a short header is short");
            break;
        case ProxyParse::Invalid:
            check(parseProxyHeader(longer).state == ProxyParse::Invalid, "an invalid header stays invalid");
            break;
    }
    return 0;
}
