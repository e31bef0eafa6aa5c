// POSIX implementation of the local-time conversion.
#include "platform/LocalTime.h"

#include <time.h>

namespace corvel {

LocalTimeParts toLocalTime(std::time_t time) {
    struct tm parts {};
    LocalTimeParts result;
    if (::localtime_r(&time, &parts) == nullptr) return result;
    result.year = parts.tm_year + 1900;
    result.month = parts.tm_mon + 1;
    result.day = parts.tm_mday;
    result.hour = parts.tm_hour;
    result.minute = parts.tm_min;
    result.second = parts.tm_sec;
    result.utcOffsetSeconds = static_cast<int>(parts.tm_gmtoff);
    return result;
}

}  // namespace corvel
