#include "ftp/MlsxFacts.h"

#include <cstdio>
#include <optional>

#include "common/Permissions.h"
#include "ftp/MachineTime.h"

namespace corvel {
namespace {

const char* typeName(FactType type) {
    switch (type) {
        case FactType::File: return "file";
        case FactType::Dir: return "dir";
        case FactType::Cdir: return "cdir";
    }
    return "file";
}

}  // namespace

std::string permFact(FactType type, std::uint32_t privileges) {
    auto has = [privileges](std::uint32_t bits) { return (privileges & bits) == bits; };
    std::string letters;
    if (type == FactType::File) {
        if (has(PERM_WRITE_FILE)) letters += 'a';
        if (has(PERM_REMOVE_FILE)) letters += 'd';
        if (has(PERM_WRITE_FILE)) letters += 'f';
        if (has(PERM_READ_FILE)) letters += 'r';
        if (has(PERM_WRITE_FILE)) letters += 'w';
        return letters;
    }
    if (has(PERM_WRITE_FILE | PERM_CREATE_FILE)) letters += 'c';
    if (has(PERM_REMOVE_DIR)) letters += 'd';
    letters += 'e';
    if (has(PERM_WRITE_FILE)) letters += 'f';
    if (has(PERM_LIST)) letters += 'l';
    if (has(PERM_CREATE_DIR)) letters += 'm';
    if (has(PERM_REMOVE_FILE) || has(PERM_REMOVE_DIR)) letters += 'p';
    return letters;
}

std::string formatFacts(const FactSubject& subject, std::uint32_t privileges) {
    std::string facts = "type=";
    facts += typeName(subject.type);
    facts += ';';
    if (subject.type == FactType::File) facts += "size=" + std::to_string(subject.size) + ';';
    if (std::optional<std::string> modify = formatMachineTime(subject.lastWrite)) facts += "modify=" + *modify + ';';
    facts += "perm=" + permFact(subject.type, privileges) + ';';
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(subject.mode & 07777));
    facts += "unix.mode=";
    facts += mode;
    facts += ';';
    return facts;
}

std::string formatMlsdLine(const FactSubject& subject, std::uint32_t privileges, const std::string& name) {
    return formatFacts(subject, privileges) + ' ' + name + "\r\n";
}

}  // namespace corvel
