// Whole-file replacement that never leaves a half-written file behind.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace corvel {

// Writes a new file through writer into a temporary file beside path, flushes it to
// disk and renames it over path, so readers (and a crash) see the old or the new
// file, never a mix. The new file keeps the old file's mode (0644 when new).
// When verify is given it checks the finished temporary file (by its path) before
// the rename. Returns false, leaving path untouched, when anything fails.
bool replaceFileAtomically(const std::string& path, const std::function<bool(std::FILE*)>& writer,
                           const std::function<bool(const std::string&)>& verify = {});

bool pathExists(const std::string& path);
bool isDirectoryPath(const std::string& path);
// Creates the directory (mode 0777 & umask); true when it exists afterwards.
bool ensureDirectory(const std::string& path);
// Renames from to to, replacing to. Used to keep a damaged file aside.
bool renamePath(const std::string& from, const std::string& to);

}  // namespace corvel
