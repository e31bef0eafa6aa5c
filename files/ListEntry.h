// One directory listing record (type letter, size, date and name as text), as the
// FTP listings and the web browser's folder pages show it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "platform/LocalTime.h"

namespace corvel {

enum class ListEntryType { Directory, File };

// A value type; the fields hold the texts exactly as they are printed.
struct ListEntry {
    std::string type;  // "d" for a directory, "-" for a file
    std::string size;  // decimal, right-aligned in 12 characters (longer numbers in full)
    std::string date;  // "%s %2d %02d:%02d": month abbreviation, day, hour, minute
    std::string name;  // the entry's name as the file system returns it
    std::time_t lastWrite = 0;  // the time date was made from, for other date forms

    bool isDirectory() const { return type == "d"; }

    // Builds a record, converting lastWrite to local time.
    static ListEntry make(ListEntryType type, std::int64_t size, std::time_t lastWrite, std::string name);
};

// "Jan" .. "Dec" for month 1..12; "" outside that range.
const char* monthAbbreviation(int month);
// The date text of a listing line, e.g. "Mar  7 09:05"; never shows a year.
std::string formatListDate(const LocalTimeParts& time);
// The date text as ls writes it: "Mar  7 09:05" for a time in the six months up to
// now, "Mar  7  2024" (the year in the time's place) for an older or a future one.
std::string formatListDateAsLs(std::time_t lastWrite, std::time_t now);
// Whether ls shows the time of day (true) or the year for lastWrite at now.
bool isRecentListTime(std::time_t lastWrite, std::time_t now);
// "Mar  7  2024": month, padded day, and the year where the time would stand.
std::string formatListDateWithYear(const LocalTimeParts& time);
// The size text: "%*lld" with width 12.
std::string formatListSize(std::int64_t size);

}  // namespace corvel
