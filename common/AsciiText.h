// Case-insensitive comparison of protocol words (FTP verbs, HTTP header names, XML
// values): only A-Z and a-z are folded, whatever the locale, so a byte of UTF-8 or
// Latin-1 never matches a letter.
#pragma once

#include <string>
#include <string_view>

namespace corvel {

constexpr char asciiLowerOf(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char asciiUpperOf(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLowerOf(a[i]) != asciiLowerOf(b[i])) return false;
    return true;
}

constexpr bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

inline std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiLowerOf(c);
    return out;
}

inline std::string asciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = asciiUpperOf(c);
    return out;
}

}  // namespace corvel
