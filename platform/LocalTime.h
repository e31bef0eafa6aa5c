// Calendar parts of a time in the machine's local time zone, for listing dates.
#pragma once

#include <ctime>

namespace corvel {

struct LocalTimeParts {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int utcOffsetSeconds = 0;  // local time minus UTC, e.g. 3600 for UTC+01:00
};

// Converts with the local time zone (thread-safe). A time the system cannot convert
// gives the parts of 1970-01-01 00:00:00.
LocalTimeParts toLocalTime(std::time_t time);

}  // namespace corvel
