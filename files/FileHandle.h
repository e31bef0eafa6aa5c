// An open, locked file whose bytes a client reads and writes at offsets it chooses
// (SFTP's handles), as opposed to a transfer's one stream from start to end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace corvel {

// How a handle is opened: reading under the shared lock, or writing (and, with
// ReadWrite, reading too) under the exclusive one (writes at offsets, so nothing is
// truncated unless asked).
enum class HandleAccess { Read, Write, ReadWrite };

// Movable, not copyable; owned by one session's thread. The lock goes with it.
class FileHandle {
public:
    FileHandle(UniqueFd file, HandleAccess access) : file_(std::move(file)), access_(access) {}
    FileHandle(FileHandle&&) noexcept = default;
    FileHandle& operator=(FileHandle&&) noexcept = default;

    bool writable() const { return access_ != HandleAccess::Read; }
    bool readable() const { return access_ != HandleAccess::Write; }
    // Up to length bytes from offset; 0 at the end, nullopt when the system refused
    // (or the handle is only for writing).
    std::optional<std::size_t> read(char* buffer, std::size_t length, std::int64_t offset) const;
    // All of data at offset; false when the system refused or the handle is only for reading.
    bool write(const char* data, std::size_t length, std::int64_t offset) const;
    // Cuts or grows the file to size bytes; false when the system refused or the
    // handle is only for reading.
    bool resize(std::int64_t size) const;
    // Puts what was written on the disk before it answers; false when the system refused.
    bool sync() const;
    // The open file's details now (its size grows with the writes).
    std::optional<EntryInfo> info() const;

private:
    UniqueFd file_;
    HandleAccess access_;
};

}  // namespace corvel
