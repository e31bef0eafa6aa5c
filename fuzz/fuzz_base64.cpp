// Fuzzes decodeBase64: the output is never longer than the input, has exactly the
// length the accepted characters give, equals a plain reference decoder, and
// standard Base64 of the input decodes back to the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "web/HttpText.h"

namespace corvel::fuzzing {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(unsigned char c) {
    for (int i = 0; i < 64; ++i)
        if (static_cast<unsigned char>(kAlphabet[i]) == c) return i;
    return -1;
}

// Bit by bit: every accepted character adds six bits, every full eight leave.
std::string referenceDecode(std::string_view text) {
    std::string out;
    std::string bits;
    for (unsigned char c : text) {
        int v = valueOf(c);
        if (v < 0) continue;
        for (int b = 5; b >= 0; --b) bits += ((v >> b) & 1) ? '1' : '0';
        if (bits.size() >= 8) {
            unsigned byte = 0;
            for (int i = 0; i < 8; ++i) byte = (byte << 1) | (bits[static_cast<std::size_t>(i)] == '1');
            out.push_back(static_cast<char>(byte));
            bits.erase(0, 8);
        }
    }
    return out;
}

std::string encode(std::string_view bytes) {
    std::string out;
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        unsigned v = (unsigned(static_cast<unsigned char>(bytes[i])) << 16) |
                     (unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8) |
                     unsigned(static_cast<unsigned char>(bytes[i + 2]));
        for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        unsigned v = unsigned(static_cast<unsigned char>(bytes[i])) << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        unsigned v = (unsigned(static_cast<unsigned char>(bytes[i])) << 16) |
                     (unsigned(static_cast<unsigned char>(bytes[i + 1])) << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

}  // namespace
}  // namespace corvel::fuzzing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvel;
    using namespace corvel::fuzzing;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string decoded = decodeBase64(input);
    check(decoded.size() <= input.size(), "output never longer than input");
    std::size_t accepted = 0;
    for (unsigned char c : input) accepted += valueOf(c) >= 0;
    check(decoded.size() == accepted * 6 / 8, "one byte per eight accepted bits");
    if (size <= 4096) check(decoded == referenceDecode(input), "equals the reference decoder");
    check(decodeBase64(encode(input)) == input, "standard Base64 decodes back");
    return 0;
}
