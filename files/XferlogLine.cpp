#include "files/XferlogLine.h"

#include <array>
#include <cstdio>

#include "platform/LocalTime.h"

namespace corvel {
namespace {

constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// 0 for Sunday (Sakamoto's method), for the proleptic Gregorian calendar.
int weekdayOf(int year, int month, int day) {
    static constexpr int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

std::string ctimeText(std::time_t time) {
    const LocalTimeParts parts = toLocalTime(time);
    const int month = parts.month >= 1 && parts.month <= 12 ? parts.month : 1;
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %2d %02d:%02d:%02d %d", kWeekdays[weekdayOf(parts.year, month, parts.day)],
                  kMonths[month - 1], parts.day, parts.hour, parts.minute, parts.second, parts.year);
    return text;
}

}  // namespace

std::string xferlogField(std::string_view text) {
    if (text.empty()) return "-";
    std::string field;
    field.reserve(text.size());
    for (unsigned char c : text) {
        // SECURITY: the names are the client's text; a blank would split the field,
        // a line end would start a line the client wrote.
        if (c <= 0x20 || c == 0x7f || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            field += escaped;
        } else {
            field += static_cast<char>(c);
        }
    }
    return field;
}

std::string xferlogLine(const TransferRecord& record) {
    std::string line = ctimeText(record.finished);
    line += ' ';
    line += std::to_string(record.seconds < 1 ? 1 : record.seconds);
    line += ' ';
    line += xferlogField(record.remoteHost);
    line += ' ';
    line += std::to_string(record.bytes);
    line += ' ';
    line += xferlogField(record.fileName);
    line += record.binary ? " b _ " : " a _ ";
    line += record.outgoing ? "o " : "i ";
    line += record.anonymous ? "a " : "r ";
    line += xferlogField(record.user);
    switch (record.service) {
        case TransferService::Ftp: line += " ftp 0 * "; break;
        case TransferService::Web: line += " http 0 * "; break;
        case TransferService::Sftp: line += " sftp 0 * "; break;
    }
    line += record.complete ? "c\n" : "i\n";
    return line;
}

}  // namespace corvel
