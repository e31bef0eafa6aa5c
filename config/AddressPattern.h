// Which access-policy patterns can never match a client's address, so that a tool
// can refuse them before they are written to ftpaccess.xml.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// Longest address text the server can compare a pattern with: an IPv6 address with
// an embedded IPv4 part ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255").
inline constexpr std::size_t kLongestAddressText = 45;

// Why pattern can never match an address as the server writes it (dotted IPv4 such
// as 192.168.1.7, or IPv6 text such as 2001:db8::1 in lower case), for matchPattern's
// '*' and '?'; nullopt when some address may match it. The reasons: it is empty, it
// holds a character that no address text holds (only digits, '.', ':', lower-case
// a-f, '*' and '?' can match), or it has no '*' and is longer than any address.
std::optional<std::string> whyPatternNeverMatches(std::string_view pattern);

}  // namespace corvel
