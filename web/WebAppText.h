// Text helpers of the web client: form fields read by their exact names, the
// session cookie, names a client may give a new entry, and JSON strings.
// Pure functions, thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// The name of the web client's session cookie.
inline constexpr std::string_view kSessionCookieName = "corvel_session";

// The percent-decoded value of the first field called exactly name in a form body
// or query ("a=1&b=2"); nullopt when there is none. Unlike getQueryParam, "xname="
// is no "name=" field.
std::optional<std::string> formField(std::string_view form, std::string_view name);

// The percent-decoded values of every field called exactly name, in their order
// (check boxes of one name send one field each); at most limit of them.
std::vector<std::string> formFields(std::string_view form, std::string_view name, std::size_t limit);

// The value of the cookie called name in a Cookie header ("a=1; b=2"); empty when
// there is none.
std::string cookieValue(std::string_view header, std::string_view name);

// Whether text names one entry inside a folder: not empty, not "." or "..", no
// "/", "\" or control byte, at most 255 bytes (what Linux file systems take).
bool isSingleName(std::string_view text);

// A decimal count of bytes in a query ("0".."9", at most 18 digits); nullopt
// otherwise, so "-1", "1e3" and " 7" are refused.
std::optional<std::int64_t> byteCountValue(std::string_view text);

// text as the inside of a JSON string: '"', '\' and control bytes escaped; other
// bytes as they are (names are UTF-8 on the disk, or shown as the browser can).
std::string jsonEscape(std::string_view text);

// text with every byte that is not part of a valid UTF-8 sequence replaced by
// U+FFFD, for names that must be UTF-8 (a zip's entries say so).
std::string validUtf8(std::string_view text);

// "YYYY-MM-DD HH:MM" of a time in UTC.
std::string utcDateText(std::int64_t secondsSinceEpoch);

// A byte count for people: "512 B", "1.5 KiB", "20.0 MiB", ...
std::string humanSize(std::int64_t bytes);

}  // namespace corvel
