// Byte-string helpers of the web browser.
#include "web/HttpText.h"

#include <algorithm>

namespace corvel {

std::string extractBetween(std::string_view text, std::string_view start, std::string_view end) {
    std::size_t begin = 0;
    if (!start.empty()) {
        std::size_t found = text.find(start);
        if (found == std::string_view::npos) return {};
        begin = found + start.size();
    }
    std::string_view rest = text.substr(begin);
    if (!end.empty()) {
        std::size_t stop = rest.find(end);
        if (stop != std::string_view::npos) rest = rest.substr(0, stop);
    }
    return std::string(rest);
}

static int base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::string decodeBase64(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3 / 4 + 1);
    unsigned accumulator = 0;
    int pendingBits = 0;
    for (unsigned char c : text) {
        int value = base64Value(c);
        if (value < 0) continue;
        // Only the pending bits matter; masking keeps the accumulator small.
        accumulator = ((accumulator << 6) | static_cast<unsigned>(value)) & 0xFFFFu;
        pendingBits += 6;
        if (pendingBits >= 8) {
            pendingBits -= 8;
            out.push_back(static_cast<char>((accumulator >> pendingBits) & 0xFFu));
        }
    }
    return out;
}

static bool isLineSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimHttpLine(std::string_view line) {
    while (!line.empty() && isLineSpace(line.front())) line.remove_prefix(1);
    while (!line.empty() && isLineSpace(line.back())) line.remove_suffix(1);
    return line;
}

static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void percentDecode(std::string& text) {
    std::size_t write = 0;
    for (std::size_t read = 0; read < text.size(); ++read) {
        char c = text[read];
        if (c == '+') {
            c = ' ';
        } else if (c == '%' && read + 2 < text.size()) {
            int high = hexValue(text[read + 1]);
            int low = hexValue(text[read + 2]);
            if (high >= 0 && low >= 0) {
                c = static_cast<char>(high * 16 + low);
                read += 2;
            }
        }
        text[write++] = c;
    }
    text.resize(write);
}

std::optional<std::string> getQueryParamBytes(std::string_view query, std::string_view name) {
    std::size_t found = query.find(name);
    if (found == std::string_view::npos) return std::nullopt;
    std::size_t valueStart = found + name.size();
    if (valueStart >= query.size() || query[valueStart] != '=') return std::nullopt;
    ++valueStart;
    std::size_t valueEnd = query.find('&', valueStart);
    if (valueEnd == std::string_view::npos) valueEnd = query.size();
    std::string value(query.substr(valueStart, valueEnd - valueStart));
    percentDecode(value);
    return value;
}

std::optional<std::string> getQueryParam(std::string_view query, std::string_view name) {
    std::optional<std::string> value = getQueryParamBytes(query, name);
    if (value) value->resize(std::min(value->find('\0'), value->size()));
    return value;
}

std::string encodeLinkPath(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(path.size() * 3);
    for (unsigned char c : path) {
        out.push_back('%');
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0F]);
    }
    return out;
}

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

}  // namespace corvel
