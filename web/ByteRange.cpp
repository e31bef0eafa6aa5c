// Reading a Range header and choosing the one part a download sends.
#include "web/ByteRange.h"

#include <algorithm>
#include <optional>

#include "web/HttpText.h"

namespace corvel {

namespace {

// Positions past this only need to be known as "past every file": the digits
// saturate here, so a long run of them can never overflow.
constexpr std::int64_t kPositionCeiling = std::int64_t{1} << 62;

// One element of the range set: an int-range "A-" / "A-B", or a suffix range "-N".
struct ListedRange {
    bool suffix = false;
    std::int64_t first = 0;               // int-range
    std::optional<std::int64_t> last;     // int-range, when given
    std::int64_t suffixLength = 0;        // suffix range
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the digits at text's start; nullopt when there is none.
std::optional<std::int64_t> takeNumber(std::string_view& text) {
    std::size_t i = 0;
    std::int64_t value = 0;
    while (i < text.size() && isDigit(text[i])) {
        const int digit = text[i] - '0';
        // Compared before multiplying, so the product itself can never overflow.
        value = value > (kPositionCeiling - digit) / 10 ? kPositionCeiling : value * 10 + digit;
        ++i;
    }
    if (i == 0) return std::nullopt;
    text.remove_prefix(i);
    return value;
}

std::optional<ListedRange> parseListedRange(std::string_view text) {
    ListedRange range;
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
        std::optional<std::int64_t> length = takeNumber(text);
        if (!length || !text.empty()) return std::nullopt;
        range.suffix = true;
        range.suffixLength = *length;
        return range;
    }
    std::optional<std::int64_t> first = takeNumber(text);
    if (!first || text.empty() || text.front() != '-') return std::nullopt;
    text.remove_prefix(1);
    range.first = *first;
    if (!text.empty()) {
        range.last = takeNumber(text);
        // A last position before the first makes the whole header invalid.
        if (!range.last || !text.empty() || *range.last < range.first) return std::nullopt;
    }
    return range;
}

std::string_view trimListSpace(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool satisfiable(const ListedRange& range, std::int64_t size) {
    return range.suffix ? range.suffixLength > 0 : range.first < size;
}

}  // namespace

RangeChoice chooseRange(std::string_view rangeValue, std::int64_t size) {
    const RangeChoice whole;
    const std::size_t equals = rangeValue.find('=');
    // The unit is a case-insensitive token; only bytes are known, others are ignored.
    if (equals == std::string_view::npos || equals != 5 || !startsWithIgnoringAsciiCase(rangeValue, "bytes"))
        return whole;
    std::string_view set = rangeValue.substr(equals + 1);

    std::size_t listed = 0;
    std::size_t satisfiableRanges = 0;
    ListedRange only;
    // A list: elements apart by commas with optional blanks; empty elements are skipped.
    while (true) {
        const std::size_t comma = set.find(',');
        const std::string_view element = trimListSpace(set.substr(0, comma));
        if (!element.empty()) {
            std::optional<ListedRange> range = parseListedRange(element);
            // An invalid set is ignored as a whole rather than half applied.
            if (!range) return whole;
            ++listed;
            if (satisfiable(*range, size)) ++satisfiableRanges;
            only = *range;
        }
        if (comma == std::string_view::npos) break;
        set.remove_prefix(comma + 1);
    }
    if (listed == 0) return whole;
    if (satisfiableRanges == 0) return {RangeChoice::Kind::Unsatisfiable};
    if (listed > 1) return whole;
    if (only.suffix) {
        if (size == 0) return whole;
        return {RangeChoice::Kind::Part, size - std::min(only.suffixLength, size), size - 1};
    }
    const std::int64_t last = only.last ? std::min(*only.last, size - 1) : size - 1;
    return {RangeChoice::Kind::Part, only.first, last};
}

}  // namespace corvel
