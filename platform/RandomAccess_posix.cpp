#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/EntryInfo_posix.h"
#include "platform/RandomAccess.h"

namespace corvel {

std::optional<std::size_t> readFileAt(const UniqueFd& file, char* buffer, std::size_t length, std::int64_t offset) {
    if (offset < 0) return std::nullopt;
    for (;;) {
        const ssize_t got = ::pread(file.get(), buffer, length, static_cast<off_t>(offset));
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return std::nullopt;
    }
}

bool writeFileAt(const UniqueFd& file, const char* data, std::size_t length, std::int64_t offset) {
    if (offset < 0) return false;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t put = ::pwrite(file.get(), data + done, length - done,
                                     static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (put > 0) {
            done += static_cast<std::size_t>(put);
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

bool resizeFile(const UniqueFd& file, std::int64_t size) {
    if (size < 0) return false;
    for (;;) {
        if (::ftruncate(file.get(), static_cast<off_t>(size)) == 0) return true;
        if (errno != EINTR) return false;
    }
}

bool syncFile(const UniqueFd& file) {
    for (;;) {
        if (::fsync(file.get()) == 0) return true;
        if (errno != EINTR) return false;
    }
}

std::optional<EntryInfo> openFileInfo(const UniqueFd& file) {
    struct stat looked {};
    if (::fstat(file.get(), &looked) != 0) return std::nullopt;
    return entryInfoOf(looked);
}

}  // namespace corvel
