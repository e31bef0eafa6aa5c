// Listing records and the LIST line format.
#include "files/ListEntry.h"

#include <cstdio>

namespace corvel {

namespace {
// Half a Gregorian year in seconds: older times show their year, as in ls.
constexpr std::time_t kRecentListSeconds = 31556952 / 2;
constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
}

const char* monthAbbreviation(int month) { return month >= 1 && month <= 12 ? kMonths[month - 1] : ""; }

std::string formatListDate(const LocalTimeParts& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %2d %02d:%02d", monthAbbreviation(time.month), time.day, time.hour,
                  time.minute);
    return text;
}

bool isRecentListTime(std::time_t lastWrite, std::time_t now) {
    return lastWrite > now - kRecentListSeconds && lastWrite <= now;
}

std::string formatListDateWithYear(const LocalTimeParts& time) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %2d %5d", monthAbbreviation(time.month), time.day, time.year);
    return text;
}

std::string formatListDateAsLs(std::time_t lastWrite, std::time_t now) {
    const LocalTimeParts parts = toLocalTime(lastWrite);
    return isRecentListTime(lastWrite, now) ? formatListDate(parts) : formatListDateWithYear(parts);
}

std::string formatListSize(std::int64_t size) {
    char text[32];
    std::snprintf(text, sizeof text, "%*lld", 12, static_cast<long long>(size));
    return text;
}

ListEntry ListEntry::make(ListEntryType type, std::int64_t size, std::time_t lastWrite, std::string name) {
    ListEntry entry;
    entry.type.assign(1, type == ListEntryType::Directory ? 'd' : '-');
    entry.size = formatListSize(size);
    entry.date = formatListDate(toLocalTime(lastWrite));
    entry.name = std::move(name);
    entry.lastWrite = lastWrite;
    return entry;
}

}  // namespace corvel
