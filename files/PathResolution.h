// Turns a command's path argument into a local path below the account's home
// directory, the same way in every file command.
#pragma once

#include <optional>
#include <string>

#include "files/VirtualPath.h"

namespace corvel {

enum class PathStatus {
    Invalid,   // reply "550 No such file or directory\r\n"
    Escaped,   // reply "550 /" + normalised + the command's suffix + "\r\n"
    Resolved,  // localPath names the entry below the home directory
};

struct ResolvedPath {
    PathStatus status = PathStatus::Invalid;
    // The virtual path's joined text with the command's separator, no "/" in front
    // ("" for the root). Filled for Escaped and Resolved.
    std::string normalised;
    // Home directory + "/" + the normalised names joined by "/". Resolved only.
    std::string localPath;
};

// The virtual text of an argument: the argument itself when it begins with "/",
// otherwise currentDirectory + "\" + argument (so "" names the current directory).
std::string virtualTextOf(const std::string& currentDirectory, const std::string& argument);

// The local path of a parsed, valid and not escaped virtual path: the home directory
// (absolute; its "." and ".." are resolved as text, trailing separators dropped)
// + "/" + the names joined by "/"; the root is the home directory itself.
// SECURITY: nullopt when path is invalid or escaped, when homeDirectory is empty,
// relative or holds a NUL byte, so a result is always inside the home directory
// (as text; symlinks inside the home are followed later, on purpose).
std::optional<std::string> localPathOf(const std::string& homeDirectory, const VirtualPath& path);

// The steps: v = virtualTextOf(currentDirectory, argument); V = parse of v
// with separator ('/' for most commands, '\\' for SIZE and RNTO): not valid →
// Invalid; escaped → Escaped; home + "\" + v longer than kMaxPathTextBytes → Invalid;
// otherwise Resolved with localPathOf(home, V) (Invalid when that refuses the home).
// Pure function of its arguments; thread-safe.
ResolvedPath resolvePath(const std::string& homeDirectory, const std::string& currentDirectory,
                         const std::string& argument, char separator);

}  // namespace corvel
