// The UTC times of MDTM, MFMT and the modify fact (RFC 3659 time-val,
// "YYYYMMDDHHMMSS"), converted to and from seconds since 1970 by calendar
// arithmetic alone, so no time zone or C library state is involved.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvel {

// Pure functions; thread-safe.

// The 14 digits of a time; nullopt when its year lies outside 1000..9999, which
// four digits cannot carry (RFC 3659 has no other form).
std::optional<std::string> formatMachineTime(std::int64_t seconds);
// Reads "YYYYMMDDHHMMSS" with an optional fraction (".123", dropped). nullopt for
// anything else: other lengths or characters, a year below 1000, month 1..12, the
// month's days, hours 0..23, minutes and seconds 0..59.
std::optional<std::int64_t> parseMachineTime(std::string_view text);

}  // namespace corvel
