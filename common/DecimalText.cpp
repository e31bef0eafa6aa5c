#include "common/DecimalText.h"

namespace corvel {

std::int64_t scanDecimal(std::string_view text, bool* found) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::uint64_t value = 0;
    bool any = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + std::uint64_t(text[i] - '0');  // wraps on overflow, never traps
        any = true;
    }
    if (found) *found = any;
    if (!any) return 0;
    return static_cast<std::int64_t>(negative ? (0 - value) : value);
}

}  // namespace corvel
