// The stored form of a password: an MD5-based digest printed as four upper-case
// 32-bit words, shared by the server and the console.
#pragma once

#include <string>
#include <string_view>

namespace corvel {

// Equals MD5 (each 32-bit state word printed as a number) for passwords of up to
// 55 bytes; longer passwords mix only the first 64 and the last (length mod 64)
// bytes, and every block starts again from the initial words.
std::string passwordDigest(std::string_view password);

}  // namespace corvel
