// Byte-string helpers of the web browser: request-line pieces, Basic credentials,
// form values, link encoding and HTML escaping. Pure functions, thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/AsciiText.h"

namespace corvel {

// The text after the first occurrence of start (from the beginning when start is
// empty) up to the first occurrence of end at or after that point (to the end of
// the text when end is empty or does not occur). A non-empty start that does not
// occur gives the empty text. Markers match case-sensitively.
std::string extractBetween(std::string_view text, std::string_view start, std::string_view end);

// Standard Base64 alphabet; every other character, '=' included, is skipped. Six
// bits enter per accepted character, a byte leaves whenever eight are pending, and
// leftover bits are dropped. The result is never longer than the input.
std::string decodeBase64(std::string_view text);

// Strips spaces, tabs, CRs and LFs from both ends.
std::string_view trimHttpLine(std::string_view line);

// '+' becomes a space and "%XY" with two hex digits becomes one byte; the produced
// byte is not looked at again. A '%' without two hex digits after it stays as is.
void percentDecode(std::string& text);

// The value of the first occurrence of name anywhere in query when '=' follows it,
// up to the next '&' or the end, percent-decoded and cut at its first NUL byte.
// Absent when name does not occur or the first occurrence is not followed by '='
// (later occurrences are not looked at).
std::optional<std::string> getQueryParam(std::string_view query, std::string_view name);
// The same value with its NUL bytes kept, for a value that names a file: cut at a
// NUL it would name another file than the one asked for.
std::optional<std::string> getQueryParamBytes(std::string_view query, std::string_view name);

// Every byte as "%XY" with upper-case hex digits; letters, digits and '/' too.
std::string encodeLinkPath(std::string_view path);

// Replaces & < > " ' by character references so that inserted text never forms markup.
std::string htmlEscape(std::string_view text);

}  // namespace corvel
