#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/UniqueFd.h"

namespace corvel {
namespace {

constexpr char kTemporaryInfix[] = ".tmp";
constexpr std::size_t kTemporarySuffixLength = 6;  // mkstemp's XXXXXX

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

// The file a path stands for: a symlink's target (links followed, as a plain write
// would), so a file shared through a link is replaced where it lies and the link
// stays; the path itself otherwise.
std::string replacedFile(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    std::unique_ptr<char, decltype(&std::free)> target(::realpath(path.c_str(), nullptr), &std::free);
    return target ? std::string(target.get()) : path;
}

bool replaceFileAtomically(const std::string& requested, const std::function<bool(std::FILE*)>& writer,
                           const std::function<bool(const std::string&)>& verify, unsigned newFileMode) {
    const std::string path = replacedFile(requested);
    std::string temporary = path + kTemporaryInfix + std::string(kTemporarySuffixLength, 'X');
    // SECURITY: mkstemp creates the file 0600, so a save killed half-way leaves
    // nothing readable by others, whatever the final mode.
    UniqueFd fd(::mkstemp(temporary.data()));
    if (!fd.isOpen()) return false;
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    const mode_t mode = existed ? (old.st_mode & 07777) : static_cast<mode_t>(newFileMode);

    bool ok = false;
    if (std::FILE* file = ::fdopen(fd.get(), "w")) {
        const int descriptor = fd.release();  // the stream owns it now
        ok = writer(file) && std::fflush(file) == 0;
        // The old group first (allowed when the writer belongs to it), so a file an
        // administrators' group shares stays shared; then the mode, just before the rename.
        if (ok && existed) (void)::fchown(descriptor, static_cast<uid_t>(-1), old.st_gid);
        ok = ok && ::fchmod(descriptor, mode) == 0 && ::fsync(descriptor) == 0;
        ok = (std::fclose(file) == 0) && ok;
    }
    if (ok && verify) ok = verify(temporary);
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

int removeStaleTemporaries(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + kTemporaryInfix;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.c_str()));
    if (!dir) return 0;
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    while (struct dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.size() != prefix.size() + kTemporarySuffixLength || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        if (now - info.st_mtime < kStaleTemporaryAgeSeconds) continue;  // a save may still be writing it
        if (::unlinkat(::dirfd(dir.get()), entry->d_name, 0) == 0) ++removed;
    }
    return removed;
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
