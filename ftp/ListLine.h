// The Unix-like line of an FTP listing (LIST, NLST, RETR of a directory) built from
// a listing record.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "files/ListEntry.h"

namespace corvel {

// One LIST line: "%srw-------   1 %s     %s %s %s %s\r\n" with type, userName,
// userName, size, date and name.
std::string formatListLine(const ListEntry& entry, const std::string& userName);
// The same line with the date as ls writes it at now (the year for a time older
// than six months or in the future), from entry.lastWrite: LIST with <ftpext>.
std::string formatListLine(const ListEntry& entry, const std::string& userName, std::time_t now);
// The line of NLST with <ftpext>: the name alone, then CR LF.
std::string formatNameLine(const ListEntry& entry);
// The lines of every entry, in order, concatenated.
std::string formatListing(const std::vector<ListEntry>& listing, const std::string& userName);

}  // namespace corvel
