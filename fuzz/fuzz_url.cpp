// Fuzzes the web text helpers: percentDecode, getQueryParam, encodeLinkPath,
// htmlEscape and extractBetween, each against its stated contract.
//
// Input: a name and a query split at the first NUL byte ('&'-separated pieces and
// "%XY" escapes are the interesting part of the query).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "web/HttpText.h"

namespace corvel::fuzzing {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string referenceDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    std::string input(reinterpret_cast<const char*>(data), size);

    std::string decoded = input;
    percentDecode(decoded);
    check(decoded.size() <= input.size(), "decoding never grows");
    check(decoded == referenceDecode(input), "percentDecode equals the reference");

    std::string encoded = encodeLinkPath(input);
    check(encoded.size() == 3 * input.size(), "three bytes per byte");
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        char c = encoded[i];
        bool ok = i % 3 == 0 ? c == '%' : ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
        check(ok, "only %XY with upper-case digits");
    }
    std::string roundTrip = encoded;
    percentDecode(roundTrip);
    check(roundTrip == input, "decoding an encoded link gives the path back");

    std::string escaped = htmlEscape(input);
    check(escaped.find_first_of("<>\"'") == std::string::npos, "no markup characters after escaping");
    for (std::size_t amp = escaped.find('&'); amp != std::string::npos; amp = escaped.find('&', amp + 1)) {
        std::string_view rest = std::string_view(escaped).substr(amp);
        check(rest.starts_with("&amp;") || rest.starts_with("&lt;") || rest.starts_with("&gt;") ||
                  rest.starts_with("&quot;") || rest.starts_with("&#39;"),
              "every '&' starts a character reference");
    }

    std::size_t cut = input.find('\0');
    std::string name = input.substr(0, cut);
    std::string query = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    std::optional<std::string> value = getQueryParam(query, name);
    std::size_t found = query.find(name);
    if (found == std::string::npos || found + name.size() >= query.size() || query[found + name.size()] != '=') {
        check(!value, "absent unless the first occurrence is followed by '='");
    } else {
        check(value.has_value(), "present when the first occurrence is followed by '='");
        std::size_t start = found + name.size() + 1;
        std::size_t end = query.find('&', start);
        std::string raw = query.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string expected = referenceDecode(raw);
        expected = expected.substr(0, expected.find('\0'));
        check(*value == expected, "value decoded up to the next '&' and cut at NUL");
    }

    std::string between = extractBetween(query, name, "&");
    check(between.size() <= query.size(), "extractBetween returns a piece of the text");
    check(query.find(between) != std::string::npos, "extractBetween returns a substring");
    return 0;
}
