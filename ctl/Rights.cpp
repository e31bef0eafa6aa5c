#include "ctl/Rights.h"

#include <cstdio>

namespace corvel {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// "0x" followed by 1 to 8 hexadecimal digits.
std::optional<std::uint32_t> hexBits(std::string_view word) {
    if (word.size() < 3 || word.size() > 10 || word[0] != '0' || (word[1] != 'x' && word[1] != 'X'))
        return std::nullopt;
    std::uint32_t value = 0;
    for (char c : word.substr(2)) {
        std::uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = std::uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = std::uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = std::uint32_t(c - 'A' + 10);
        else
            return std::nullopt;
        value = value << 4 | digit;
    }
    return value;
}

}  // namespace

std::uint32_t allRightsBits() {
    std::uint32_t bits = 0;
    for (const RightsWord& right : kRightsWords) bits |= right.bit;
    return bits;
}

ParsedRights parseRights(std::string_view list) {
    ParsedRights result;
    if (trimmed(list).empty()) {
        result.error = "no rights given (use 'none' for an account without rights)";
        return result;
    }
    std::uint32_t bits = 0;
    for (;;) {
        const std::size_t comma = list.find(',');
        const std::string_view word = trimmed(list.substr(0, comma));
        if (word.empty()) {
            result.error = "an empty rights word in the list";
            return result;
        }
        bool known = false;
        if (word == "all") {
            bits |= allRightsBits();
            known = true;
        } else if (word == "none") {
            known = true;
        } else if (std::optional<std::uint32_t> hex = hexBits(word)) {
            bits |= *hex;
            known = true;
        }
        for (const RightsWord& right : kRightsWords) {
            if (word == right.word) {
                bits |= right.bit;
                known = true;
            }
        }
        if (!known) {
            result.error = "unknown rights word '" + std::string(word) +
                           "' (known: read, write, create, delete, list, mkdir, rmdir, exec, all, none)";
            return result;
        }
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    result.bits = bits;
    return result;
}

std::vector<std::string> rightsWords(std::uint32_t bits) {
    std::vector<std::string> words;
    const std::uint32_t all = allRightsBits();
    if ((bits & all) == all) {
        words.emplace_back("all");
    } else {
        for (const RightsWord& right : kRightsWords)
            if (bits & right.bit) words.emplace_back(right.word);
    }
    if (const std::uint32_t rest = bits & ~all) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%x", rest);
        words.emplace_back(hex);
    }
    if (words.empty()) words.emplace_back("none");
    return words;
}

std::string rightsText(std::uint32_t bits) {
    std::string text;
    for (const std::string& word : rightsWords(bits)) text += (text.empty() ? "" : ",") + word;
    return text;
}

}  // namespace corvel
