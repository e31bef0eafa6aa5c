// Whole-file replacement that never leaves a half-written file behind.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace corvel {

// Mode of a new file that holds nothing secret.
constexpr unsigned kPublicFileMode = 0644;
// Mode of a new file that holds secrets (password digests): the owner alone.
constexpr unsigned kPrivateFileMode = 0600;

// Writes a new file through writer into a temporary file beside path
// (path + ".tmpXXXXXX", mode 0600 while it is written), flushes it to disk and
// renames it over path, so readers (and a crash) see the old or the new file,
// never a mix. A path that is a symlink is followed: the link's target is
// replaced and the link stays. The new file keeps the old file's mode and, where the writer may
// give it, its group; a file that did not exist gets newFileMode. When verify is
// given it checks the finished temporary file (by its path) before the rename.
// Returns false, leaving path untouched, when anything fails.
bool replaceFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& writer,
                           const std::function<bool(const std::string&)>& verify = {},
                           unsigned newFileMode = kPublicFileMode);

// A temporary file of replaceFileAtomically left untouched this long was left by a
// save that never finished (the writer was killed); a live save renames its file
// within moments.
constexpr int kStaleTemporaryAgeSeconds = 60;

// Removes the temporary files of path that a killed save left behind (regular
// files named path + ".tmp" + six characters, older than kStaleTemporaryAgeSeconds).
// Returns how many were removed.
int removeStaleTemporaries(const std::string& path);

bool pathExists(const std::string& path);
bool isDirectoryPath(const std::string& path);
// Creates the directory (mode 0777 & umask); true when it exists afterwards.
bool ensureDirectory(const std::string& path);
// Renames from to to, replacing to. Used to keep a damaged file aside.
bool renamePath(const std::string& from, const std::string& to);

}  // namespace corvel
