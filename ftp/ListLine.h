// The Unix-like line of an FTP listing (LIST, NLST, RETR of a directory) built from
// a listing record.
#pragma once

#include <string>
#include <vector>

#include "files/ListEntry.h"

namespace corvel {

// One LIST line: "%srw-------   1 %s     %s %s %s %s\r\n" with type, userName,
// userName, size, date and name.
std::string formatListLine(const ListEntry& entry, const std::string& userName);
// The lines of every entry, in order, concatenated.
std::string formatListing(const std::vector<ListEntry>& listing, const std::string& userName);

}  // namespace corvel
