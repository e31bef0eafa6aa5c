#include "ftp/ListLine.h"

namespace corvel {

std::string formatListLine(const ListEntry& entry, const std::string& userName) {
    std::string line;
    line.reserve(48 + 2 * userName.size() + entry.size.size() + entry.date.size() + entry.name.size());
    line += entry.type;
    line += "rw-------   1 ";
    line += userName;
    line += "     ";
    line += userName;
    line += ' ';
    line += entry.size;
    line += ' ';
    line += entry.date;
    line += ' ';
    line += entry.name;
    line += "\r\n";
    return line;
}

std::string formatListLine(const ListEntry& entry, const std::string& userName, std::time_t now) {
    ListEntry dated = entry;
    dated.date = formatListDateAsLs(entry.lastWrite, now);
    return formatListLine(dated, userName);
}

std::string formatNameLine(const ListEntry& entry) { return entry.name + "\r\n"; }

std::string formatListing(const std::vector<ListEntry>& listing, const std::string& userName) {
    std::string text;
    for (const ListEntry& entry : listing) text += formatListLine(entry, userName);
    return text;
}

}  // namespace corvel
