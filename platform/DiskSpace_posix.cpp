#include <sys/statvfs.h>

#include "platform/DiskSpace.h"

namespace corvel {

std::optional<DiskSpace> queryDiskSpace(const std::string& path) {
    if (path.find('\0') != std::string::npos) return std::nullopt;
    struct statvfs looked {};
    if (::statvfs(path.c_str(), &looked) != 0) return std::nullopt;
    DiskSpace space;
    space.blockSize = looked.f_bsize;
    space.fragmentSize = looked.f_frsize;
    space.blocks = looked.f_blocks;
    space.freeBlocks = looked.f_bfree;
    space.availableBlocks = looked.f_bavail;
    space.files = looked.f_files;
    space.freeFiles = looked.f_ffree;
    space.availableFiles = looked.f_favail;
    space.systemId = looked.f_fsid;
    space.flags = ((looked.f_flag & ST_RDONLY) ? 1u : 0u) | ((looked.f_flag & ST_NOSUID) ? 2u : 0u);
    space.nameMax = looked.f_namemax;
    return space;
}

}  // namespace corvel
