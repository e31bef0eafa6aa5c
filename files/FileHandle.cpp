#include "files/FileHandle.h"

#include "platform/RandomAccess.h"

namespace corvel {

std::optional<std::size_t> FileHandle::read(char* buffer, std::size_t length, std::int64_t offset) const {
    if (!readable()) return std::nullopt;
    return readFileAt(file_, buffer, length, offset);
}

bool FileHandle::write(const char* data, std::size_t length, std::int64_t offset) const {
    return writable() && writeFileAt(file_, data, length, offset);
}

bool FileHandle::resize(std::int64_t size) const { return writable() && resizeFile(file_, size); }

bool FileHandle::sync() const { return syncFile(file_); }

std::optional<EntryInfo> FileHandle::info() const { return openFileInfo(file_); }

}  // namespace corvel
