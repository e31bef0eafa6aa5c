#include "console/logic/FileText.h"

namespace corvel {
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at the start of bytes (0 when there is
// none) and its code point. Overlong forms, encoded surrogates and code points past
// U+10FFFF are not well-formed.
std::size_t wellFormedSequence(std::string_view bytes, char32_t& codePoint) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byteAt(0);
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) secondLow = 0xA0;
        if (lead == 0xED) secondHigh = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0) secondLow = 0x90;
        if (lead == 0xF4) secondHigh = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    if (byteAt(1) < secondLow || byteAt(1) > secondHigh) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuation(byteAt(i))) return 0;
        codePoint = (codePoint << 6) | (byteAt(i) & 0x3F);
    }
    return length;
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

QString textFromFileBytes(std::string_view bytes) {
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    while (!bytes.empty()) {
        char32_t codePoint = 0;
        std::size_t length = wellFormedSequence(bytes, codePoint);
        if (length == 0) {
            text += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[0])));
            length = 1;
        } else if (QChar::requiresSurrogates(codePoint)) {
            text += QChar(QChar::highSurrogate(codePoint));
            text += QChar(QChar::lowSurrogate(codePoint));
        } else {
            text += QChar(static_cast<char16_t>(codePoint));
        }
        bytes.remove_prefix(length);
    }
    return text;
}

std::string fileBytesFromText(const QString& text) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            bytes += static_cast<char>(unit - kEscapeBase);
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(bytes, QChar::ReplacementCharacter);
        } else {
            appendUtf8(bytes, unit);
        }
    }
    return bytes;
}

}  // namespace corvel
