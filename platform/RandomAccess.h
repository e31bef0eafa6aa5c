// Reads and writes at a given offset of a file that is already open and locked, for
// protocols whose clients address the bytes of a file directly (SFTP), and the look
// at an open file's details.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

namespace corvel {

// Reads up to length bytes from offset (pread(2); the file's position stays).
// 0 at or past the end; nullopt on an error.
[[nodiscard]] std::optional<std::size_t> readFileAt(const UniqueFd& file, char* buffer, std::size_t length,
                                                    std::int64_t offset);
// Writes all of data at offset (pwrite(2)); false on any error (a full disk, ...).
// A file opened for appending takes the bytes at its end whatever offset says.
[[nodiscard]] bool writeFileAt(const UniqueFd& file, const char* data, std::size_t length, std::int64_t offset);
// Makes the file size bytes long (ftruncate(2)): cut, or grown with zeros; false on
// an error or a negative size.
[[nodiscard]] bool resizeFile(const UniqueFd& file, std::int64_t size);
// Puts the file's bytes and details on the disk (fsync(2)); false on an error.
[[nodiscard]] bool syncFile(const UniqueFd& file);
// The details of the open file itself (fstat(2)); nullopt on an error.
[[nodiscard]] std::optional<EntryInfo> openFileInfo(const UniqueFd& file);

}  // namespace corvel
