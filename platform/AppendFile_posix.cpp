// POSIX implementation of the append-only log file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/AppendFile.h"

namespace corvel {

std::optional<AppendFile> AppendFile::open(const std::string& path, Status* failure) {
    // SECURITY: O_NOFOLLOW, so a link planted where the log goes cannot make the
    // server append to another file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kLogFileMode);
    if (fd < 0) {
        if (failure) *failure = Status::lastSystemError();
        return std::nullopt;
    }
    return AppendFile(UniqueFd(fd));
}

// Writes interrupted by signals this often in a row are given up.
constexpr int kMaxInterruptions = 16;

Status AppendFile::append(std::string_view line) const {
    for (int interruptions = 0;; ++interruptions) {
        // O_APPEND moves to the end and writes in one step, so a whole line of one
        // thread never lands inside a line of another.
        const ssize_t written = ::write(fd_.get(), line.data(), line.size());
        if (written == static_cast<ssize_t>(line.size())) return Status();
        if (written < 0 && errno == EINTR && interruptions < kMaxInterruptions) continue;  // nothing was written
        if (written < 0) return Status::lastSystemError();
        // A short write (the disk filled up): the rest is dropped rather than
        // written apart, where another line could come between.
        return Status::failure(ENOSPC, "only part of the line could be written");
    }
}

}  // namespace corvel
