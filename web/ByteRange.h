// The choice of what a download sends for a Range header: the whole file, one part
// of it, or nothing satisfiable (RFC 9110, section 14). Pure functions, thread-safe.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvel {

struct RangeChoice {
    enum class Kind {
        Whole,          // 200: no Range, one that is ignored, or several ranges
        Part,           // 206: the bytes first..last
        Unsatisfiable,  // 416: no byte the header asks for exists
    };
    Kind kind = Kind::Whole;
    std::int64_t first = 0;  // Part: offset of the first byte sent
    std::int64_t last = 0;   // Part: offset of the last byte sent (inclusive)

    bool operator==(const RangeChoice&) const = default;
};

// Judges a Range header's value (trimmed; empty when there was none) against the
// size of the file to send.
//
// "bytes=A-B", "bytes=A-" and "bytes=-N" give a Part within the file: B past the
// end is cut to the last byte, N past the size takes the whole file. A range that
// starts at or past the end, or "-0", is Unsatisfiable. Several ranges get the
// whole file (one part each would need a multipart answer), unless none of them is
// satisfiable. A value that is not a valid byte-range set (another unit, B before
// A, stray characters, no range at all) is ignored: Whole. An empty file has no
// parts: a suffix range gets it Whole, any other range is Unsatisfiable.
RangeChoice chooseRange(std::string_view rangeValue, std::int64_t size);

}  // namespace corvel
