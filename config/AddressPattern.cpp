#include "config/AddressPattern.h"

#include <cstdio>

namespace corvel {
namespace {

bool canAppearInAddress(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '.' || c == ':';
}

// The character as a reason may quote it: printable ASCII as it is, else \xHH.
std::string quoted(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f) return std::string("'") + c + "'";
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

}  // namespace

std::optional<std::string> whyPatternNeverMatches(std::string_view pattern) {
    if (pattern.empty()) return std::string("the pattern is empty");
    bool hasStar = false;
    for (char c : pattern) {
        if (c == '*') {
            hasStar = true;
            continue;
        }
        if (c == '?' || canAppearInAddress(c)) continue;
        if ((c >= 'A' && c <= 'F'))
            return "it holds the upper-case letter " + quoted(c) +
                   ", but addresses are written in lower case; write it as " + quoted(char(c - 'A' + 'a'));
        return "it holds " + quoted(c) +
               ", which never appears in an address (only digits, '.', ':', a-f, '*' and '?' can match)";
    }
    // Without '*' a pattern matches only texts of its own length.
    if (!hasStar && pattern.size() > kLongestAddressText)
        return "it is " + std::to_string(pattern.size()) + " characters long without a '*', longer than any address (" +
               std::to_string(kLongestAddressText) + ")";
    return std::nullopt;
}

}  // namespace corvel
