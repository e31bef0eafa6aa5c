#include "ftp/MlsxFacts.h"

#include <cstdio>
#include <optional>

#include "common/AsciiText.h"
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

// The facts in the order the entries give them.
struct FactName {
    const char* name;
    bool FactSelection::*selected;
};
constexpr FactName kFactNames[] = {{"type", &FactSelection::type},
                                   {"size", &FactSelection::size},
                                   {"modify", &FactSelection::modify},
                                   {"perm", &FactSelection::perm},
                                   {"unix.mode", &FactSelection::unixMode}};


}  // namespace

FactSelection parseFactSelection(std::string_view list) {
    FactSelection selection{false, false, false, false, false};
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        const std::string_view name = list.substr(0, end);
        for (const FactName& fact : kFactNames)
            if (equalsIgnoringAsciiCase(name, fact.name)) selection.*fact.selected = true;
        if (end == std::string_view::npos) break;
        list.remove_prefix(end + 1);
    }
    return selection;
}

std::string selectedFactList(const FactSelection& selection) {
    std::string list;
    for (const FactName& fact : kFactNames)
        if (selection.*fact.selected) list += std::string(fact.name) + ';';
    return list;
}

std::string markedFactList(const FactSelection& selection) {
    std::string list;
    for (const FactName& fact : kFactNames) list += std::string(fact.name) + (selection.*fact.selected ? "*;" : ";");
    return list;
}

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

std::string formatFacts(const FactSubject& subject, std::uint32_t privileges, const FactSelection& selection) {
    std::string facts;
    if (selection.type) {
        facts += "type=";
        facts += typeName(subject.type);
        facts += ';';
    }
    if (selection.size && subject.type == FactType::File) facts += "size=" + std::to_string(subject.size) + ';';
    if (selection.modify)
        if (std::optional<std::string> modify = formatMachineTime(subject.lastWrite)) facts += "modify=" + *modify + ';';
    if (selection.perm) facts += "perm=" + permFact(subject.type, privileges) + ';';
    if (selection.unixMode) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(subject.mode & 07777));
        facts += "unix.mode=";
        facts += mode;
        facts += ';';
    }
    return facts;
}

std::string formatMlsdLine(const FactSubject& subject, std::uint32_t privileges, const std::string& name,
                           const FactSelection& selection) {
    return formatFacts(subject, privileges, selection) + ' ' + name + "\r\n";
}

}  // namespace corvel
