#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

namespace corvel {

bool replaceFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& writer,
                           const std::function<bool(const std::string&)>& verify) {
    std::string temporary = path + ".tmpXXXXXX";
    UniqueFd fd(::mkstemp(temporary.data()));
    if (!fd.isOpen()) return false;
    struct stat old {};
    mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    ::fchmod(fd.get(), mode);

    bool ok = false;
    if (std::FILE* file = ::fdopen(fd.get(), "w")) {
        fd.release();  // the stream owns it now
        ok = writer(file) && std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
        ok = (std::fclose(file) == 0) && ok;
    }
    if (ok && verify) ok = verify(temporary);
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool isDirectoryPath(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ensureDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    return errno == EEXIST && isDirectoryPath(path);
}

bool renamePath(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

}  // namespace corvel
