// The size and the free room of the file system a path is on, as statvfs(3) tells it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvel {

struct DiskSpace {
    std::uint64_t blockSize = 0;
    std::uint64_t fragmentSize = 0;
    std::uint64_t blocks = 0;  // in fragments
    std::uint64_t freeBlocks = 0;
    std::uint64_t availableBlocks = 0;  // free to an unprivileged user
    std::uint64_t files = 0;
    std::uint64_t freeFiles = 0;
    std::uint64_t availableFiles = 0;
    std::uint64_t systemId = 0;
    std::uint64_t flags = 0;  // bit 0: read-only, bit 1: no set-user-id
    std::uint64_t nameMax = 0;
};

// nullopt when the path cannot be looked at (or holds a NUL byte).
std::optional<DiskSpace> queryDiskSpace(const std::string& path);

}  // namespace corvel
