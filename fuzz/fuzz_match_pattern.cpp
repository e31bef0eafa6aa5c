// Fuzzes matchPattern, the two-state address pattern matcher of the access policy.
//
// Input: the pattern and the text, split at the first NUL byte (no NUL: text is
// empty). The matcher follows a fixed two-state algorithm that is not a complete
// glob matcher (with '?' after a '*' it may miss a match), so it is checked against
// a plain dynamic-programming glob only where the two must agree: a reported match
// is always a real match; without '?' or without '*' the answers are equal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "accounts/AccessPolicy.h"

namespace corvel::fuzzing {
namespace {

// Keeps the reference matcher's table small; the matcher itself sees every length.
constexpr std::size_t kMaxReferenceCells = 1u << 20;

bool globMatches(const std::string& pattern, const std::string& text) {
    // row[j]: pattern[0..i) matches text[0..j).
    std::vector<char> row(text.size() + 1, 0), next(text.size() + 1, 0);
    row[0] = 1;
    for (char c : pattern) {
        next.assign(text.size() + 1, 0);
        if (c == '*') {
            char any = 0;
            for (std::size_t j = 0; j <= text.size(); ++j) {
                any = any || row[j];
                next[j] = any;
            }
        } else {
            for (std::size_t j = 1; j <= text.size(); ++j)
                next[j] = row[j - 1] && (c == '?' || text[j - 1] == c);
        }
        row.swap(next);
    }
    return row[text.size()] != 0;
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t cut = input.find('\0');
    std::string pattern = input.substr(0, cut);
    std::string text = cut == std::string::npos ? std::string() : input.substr(cut + 1);

    const bool matched = matchPattern(pattern, text);
    if ((pattern.size() + 1) * (text.size() + 1) > kMaxReferenceCells) return 0;
    const bool reference = globMatches(pattern, text);
    if (matched) check(reference, "a reported match is a real match");
    const bool hasStar = pattern.find('*') != std::string::npos;
    const bool hasQuestion = pattern.find('?') != std::string::npos;
    if (!hasStar || !hasQuestion) check(matched == reference, "exact without '?' or without '*'");
    return 0;
}
