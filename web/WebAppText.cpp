#include "web/WebAppText.h"

#include <array>
#include <cstdio>

#include "web/HttpText.h"

namespace corvel {

std::vector<std::string> formFields(std::string_view form, std::string_view name, std::size_t limit) {
    std::vector<std::string> values;
    std::size_t start = 0;
    while (start <= form.size() && values.size() < limit) {
        std::size_t end = form.find('&', start);
        if (end == std::string_view::npos) end = form.size();
        std::string_view field = form.substr(start, end - start);
        if (field.size() > name.size() && field.substr(0, name.size()) == name && field[name.size()] == '=') {
            std::string value(field.substr(name.size() + 1));
            percentDecode(value);
            values.push_back(std::move(value));
        }
        start = end + 1;
    }
    return values;
}

std::optional<std::string> formField(std::string_view form, std::string_view name) {
    std::vector<std::string> first = formFields(form, name, 1);
    if (first.empty()) return std::nullopt;
    return std::move(first.front());
}

std::string cookieValue(std::string_view header, std::string_view name) {
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find(';', start);
        if (end == std::string_view::npos) end = header.size();
        std::string_view cookie = trimHttpLine(header.substr(start, end - start));
        if (cookie.size() > name.size() && cookie.substr(0, name.size()) == name && cookie[name.size()] == '=')
            return std::string(cookie.substr(name.size() + 1));
        start = end + 1;
    }
    return {};
}

bool isSingleName(std::string_view text) {
    if (text.empty() || text.size() > 255 || text == "." || text == "..") return false;
    for (char c : text)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    return true;
}

std::optional<std::int64_t> byteCountValue(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20 || byte == 0x7F) {
            std::array<char, 8> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\u%04x", byte);
            out += escaped.data();
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80           ? 1
                             : (lead >> 5) == 0x6  ? 2
                             : (lead >> 4) == 0xE  ? 3
                             : (lead >> 3) == 0x1E ? 4
                                                   : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k)
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (valid && length > 1) {
            // No overlong forms, no surrogates, nothing past U+10FFFF.
            const auto second = static_cast<unsigned char>(text[i + 1]);
            if ((length == 2 && lead < 0xC2) || (length == 3 && lead == 0xE0 && second < 0xA0) ||
                (length == 3 && lead == 0xED && second >= 0xA0) || (length == 4 && lead == 0xF0 && second < 0x90) ||
                (length == 4 && (lead > 0xF4 || (lead == 0xF4 && second >= 0x90))))
                valid = false;
        }
        if (valid) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}

namespace {

// Days since 1970-01-01 to a civil date (the proleptic Gregorian calendar).
void civilFromDays(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

}  // namespace

std::string utcDateText(std::int64_t secondsSinceEpoch) {
    std::int64_t days = secondsSinceEpoch / 86400;
    std::int64_t seconds = secondsSinceEpoch % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    int year = 0, month = 0, day = 0;
    civilFromDays(days, year, month, day);
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02d %02d:%02d", year, month, day,
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds % 3600 / 60));
    return text.data();
}

std::string humanSize(std::int64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " B";
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.1f %s", value, kUnits[unit]);
    return text.data();
}

}  // namespace corvel
