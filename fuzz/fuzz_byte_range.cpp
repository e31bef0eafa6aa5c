// Fuzzes chooseRange, the reading of a download's Range header.
//
// Input: the first byte picks the file size (0, 1, 10, 1000 or a size near the
// top of the position range, by its low bits), the rest is the header's value.
// Checked: a Part lies inside the file; a Part of a value stays the same Part when
// asked for again as the plain "bytes=first-last"; an Unsatisfiable or a Part
// needs the "bytes=" unit; the same input gives the same choice.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "web/ByteRange.h"
#include "web/HttpText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    if (size == 0) return 0;
    constexpr std::int64_t kSizes[] = {0, 1, 10, 1000, (std::int64_t{1} << 62) - 1};
    const std::int64_t fileSize = kSizes[data[0] % 5];
    const std::string_view value(reinterpret_cast<const char*>(data) + 1, size - 1);

    const RangeChoice choice = chooseRange(value, fileSize);
    check(chooseRange(value, fileSize) == choice, "the same input gives the same choice");
    if (choice.kind != RangeChoice::Kind::Whole)
        check(startsWithIgnoringAsciiCase(value, "bytes="), "only the bytes unit has parts");
    if (choice.kind == RangeChoice::Kind::Part) {
        check(choice.first >= 0 && choice.first <= choice.last && choice.last < fileSize, "a part lies in the file");
        const std::string plain = "bytes=" + std::to_string(choice.first) + "-" + std::to_string(choice.last);
        check(chooseRange(plain, fileSize) == choice, "a part is the part its plain form names");
    }
    return 0;
}
