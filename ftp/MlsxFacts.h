// The machine-readable entry lines of MLST and MLSD (RFC 3659): the facts type,
// size, modify, perm and unix.mode, each "name=value;", then a blank and the name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvel {

// cdir is the directory an MLSD lists ("." in it). Its parent (pdir) is never
// listed: above the home directory it lies outside the account's reach.
enum class FactType { File, Dir, Cdir };

// What the facts of one entry are made from. A value.
struct FactSubject {
    FactType type = FactType::File;
    std::int64_t size = 0;       // bytes; told for files only
    std::int64_t lastWrite = 0;  // seconds since 1970 UTC
    std::uint32_t mode = 0;      // permission bits from the file system (07777)
};

// Which facts MLST and MLSD give: all of them until OPTS MLST chooses (RFC 3659, 7.9).
// A value.
struct FactSelection {
    bool type = true;
    bool size = true;
    bool modify = true;
    bool perm = true;
    bool unixMode = true;
};

// Pure functions; thread-safe.

// The facts an "OPTS MLST" list names ("size;Type;"), names compared without case;
// names this server does not know are left out, and an empty list selects none.
FactSelection parseFactSelection(std::string_view list);
// The selected facts as "type;size;" in the server's order (the OPTS MLST reply).
std::string selectedFactList(const FactSelection& selection);
// Every fact the server knows, the selected ones marked: "type*;size;..." (FEAT).
std::string markedFactList(const FactSelection& selection);

// The perm fact's letters for an account with privileges (PERM_* bits), in the
// order of RFC 3659: what the account's rights allow on such an entry, whatever
// the file system would say. Files: a, w and f (APPE, STOR, RNFR need Write File),
// d (Remove File), r (Read File). Directories: c (STOR of a new file: Write File
// and Create File), d (Remove Directory), e (CWD needs no right), f (Write File),
// l (List), m (Create Directory), p (Remove File or Remove Directory).
std::string permFact(FactType type, std::uint32_t privileges);
// "type=file;size=12;modify=20240307090500;perm=adfrw;unix.mode=0644;": size only
// for files, modify only for a time four digits of year can carry.
// Only the selected facts are given.
std::string formatFacts(const FactSubject& subject, std::uint32_t privileges, const FactSelection& selection = {});
// One MLSD line: facts, a blank, the name, CR LF.
std::string formatMlsdLine(const FactSubject& subject, std::uint32_t privileges, const std::string& name,
                           const FactSelection& selection = {});

}  // namespace corvel
