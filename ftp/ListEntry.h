// One directory listing record (type letter, size, date and name as text) and the
// Unix-like LIST line built from it; LIST, RETR of a directory and the web browser
// all format the same records.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/LocalTime.h"

namespace corvel {

enum class ListEntryType { Directory, File };

// A value type; the fields hold the texts exactly as they are printed.
struct ListEntry {
    std::string type;  // "d" for a directory, "-" for a file
    std::string size;  // decimal, right-aligned in 12 characters (longer numbers in full)
    std::string date;  // "%s %2d %02d:%02d": month abbreviation, day, hour, minute
    std::string name;  // the entry's name as the file system returns it

    bool isDirectory() const { return type == "d"; }

    // Builds a record, converting lastWrite to local time.
    static ListEntry make(ListEntryType type, std::int64_t size, std::time_t lastWrite, std::string name);
};

// "Jan" .. "Dec" for month 1..12; "" outside that range.
const char* monthAbbreviation(int month);
// The date text of a listing line, e.g. "Mar  7 09:05"; never shows a year.
std::string formatListDate(const LocalTimeParts& time);
// The size text: "%*lld" with width 12.
std::string formatListSize(std::int64_t size);

// One LIST line: "%srw-------   1 %s     %s %s %s %s\r\n" with type, userName,
// userName, size, date and name.
std::string formatListLine(const ListEntry& entry, const std::string& userName);
// The lines of every entry, in order, concatenated.
std::string formatListing(const std::vector<ListEntry>& listing, const std::string& userName);

}  // namespace corvel
