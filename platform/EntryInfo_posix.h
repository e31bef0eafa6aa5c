// What a stat(2) result says of an entry, as the file-system layer reports it; shared
// by the POSIX implementation files only.
#pragma once

#include <sys/stat.h>

#include <cstdint>

#include "platform/FileSystem.h"

namespace corvel {

inline EntryInfo entryInfoOf(const struct stat& status) {
    EntryInfo info;
    if (S_ISREG(status.st_mode))
        info.kind = EntryKind::RegularFile;
    else if (S_ISDIR(status.st_mode))
        info.kind = EntryKind::Directory;
    else
        info.kind = EntryKind::Other;
    info.size = static_cast<std::int64_t>(status.st_size);
    info.lastWrite = status.st_mtime;
    info.mode = static_cast<std::uint32_t>(status.st_mode & 07777);
    return info;
}

}  // namespace corvel
