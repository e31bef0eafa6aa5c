// Civil UTC dates to and from day numbers (the proleptic Gregorian calendar).
#include "ftp/MachineTime.h"

#include <cstdio>

namespace corvel {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days of 400 Gregorian years, the period after which the calendar repeats.
constexpr std::int64_t kDaysPerEra = 146097;
// Day number of 1970-01-01 counted from 0000-03-01, where the arithmetic starts.
constexpr std::int64_t kEpochDayFromMarch0 = 719468;

struct CivilDate {
    std::int64_t year;
    int month;  // 1..12
    int day;    // 1..31
};

// Counting years from March keeps the leap day at the end of the year.
std::int64_t daysFromCivil(CivilDate date) {
    const std::int64_t year = date.month <= 2 ? date.year - 1 : date.year;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (date.month > 2 ? date.month - 3 : date.month + 9) + 2) / 5 + date.day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * kDaysPerEra + dayOfEra - kEpochDayFromMarch0;
}

CivilDate civilFromDays(std::int64_t days) {
    days += kEpochDayFromMarch0;
    const std::int64_t era = (days >= 0 ? days : days - (kDaysPerEra - 1)) / kDaysPerEra;
    const std::int64_t dayOfEra = days - era * kDaysPerEra;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthFromMarch + 2) / 5 + 1);
    const int month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

bool isLeapYear(std::int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(std::int64_t year, int month) {
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

// The number in text[at, at + count): digits only, checked by the caller.
int digitsAt(std::string_view text, std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

}  // namespace

std::optional<std::string> formatMachineTime(std::int64_t seconds) {
    // Floor division, so a time before 1970 falls on the day before, not after.
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t inDay = seconds % kSecondsPerDay;
    if (inDay < 0) {
        inDay += kSecondsPerDay;
        --days;
    }
    const CivilDate date = civilFromDays(days);
    if (date.year < 1000 || date.year > 9999) return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", static_cast<int>(date.year), date.month, date.day,
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay % 3600 / 60), static_cast<int>(inDay % 60));
    return std::string(text);
}

std::optional<std::int64_t> parseMachineTime(std::string_view text) {
    constexpr std::size_t kDigits = 14;
    auto allDigits = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            if (text[i] < '0' || text[i] > '9') return false;
        return true;
    };
    if (text.size() < kDigits || !allDigits(0, kDigits)) return std::nullopt;
    // A fraction of a second may follow ("." and digits); whole seconds are kept.
    if (text.size() > kDigits && (text[kDigits] != '.' || text.size() == kDigits + 1 ||
                                  !allDigits(kDigits + 1, text.size())))
        return std::nullopt;
    const int year = digitsAt(text, 0, 4);
    const int month = digitsAt(text, 4, 2);
    const int day = digitsAt(text, 6, 2);
    const int hour = digitsAt(text, 8, 2);
    const int minute = digitsAt(text, 10, 2);
    const int second = digitsAt(text, 12, 2);
    if (year < 1000 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return std::nullopt;
    return daysFromCivil({year, month, day}) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

}  // namespace corvel
