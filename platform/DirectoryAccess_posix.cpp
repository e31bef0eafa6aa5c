// POSIX implementation of the directory access check.
#include "platform/DirectoryAccess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvel {

std::string directoryAccessProblem(const std::string& path, DirectoryUse use) {
    if (path.find('\0') != std::string::npos) return std::strerror(EINVAL);
    struct stat entry {};
    if (::stat(path.c_str(), &entry) != 0) return std::strerror(errno);
    if (!S_ISDIR(entry.st_mode)) return std::strerror(ENOTDIR);
    const int wanted = use == DirectoryUse::Write ? (W_OK | X_OK) : (R_OK | X_OK);
    // The effective ids and capabilities decide, as for the opens that follow; a
    // read-only mount answers EROFS for W_OK whoever asks.
    if (::faccessat(AT_FDCWD, path.c_str(), wanted, AT_EACCESS) != 0) return std::strerror(errno);
    return {};
}

}  // namespace corvel
