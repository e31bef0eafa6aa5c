// Lenient decimal scanning used by the file formats: leading blanks, an optional
// sign, digits up to the first other character; the rest is ignored.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvel {

// Returns the value wrapped to 64 bits (callers keep the low bits their field holds);
// 0 when there are no digits. *found tells whether any digit was read.
std::int64_t scanDecimal(std::string_view text, bool* found = nullptr);

}  // namespace corvel
