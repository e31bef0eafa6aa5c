// Path resolution, with local paths joined by "/" on Linux.
#include "files/PathResolution.h"

namespace corvel {

std::string virtualTextOf(const std::string& currentDirectory, const std::string& argument) {
    if (!argument.empty() && argument[0] == '/') return argument;
    return currentDirectory + "\\" + argument;
}

std::optional<std::string> localPathOf(const std::string& homeDirectory, const VirtualPath& path) {
    if (!path.valid() || path.escaped()) return std::nullopt;
    // SECURITY: a relative home would resolve against the daemon's working directory.
    if (homeDirectory.empty() || homeDirectory[0] != '/') return std::nullopt;
    VirtualPath home = VirtualPath::parse(homeDirectory, '/');
    if (!home.valid()) return std::nullopt;  // too long, or a NUL byte

    std::string local = "/" + home.joined();
    for (const std::string& name : path.components()) {
        // SECURITY: parse never yields these; checked again so that no future change
        // of the parser can carry a path out of the home directory.
        if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos)
            return std::nullopt;
        if (local.back() != '/') local += '/';
        local += name;
    }
    return local;
}

ResolvedPath resolvePath(const std::string& homeDirectory, const std::string& currentDirectory,
                         const std::string& argument, char separator) {
    ResolvedPath result;
    std::string virtualText = virtualTextOf(currentDirectory, argument);
    VirtualPath path = VirtualPath::parse(virtualText, separator);
    if (!path.valid()) return result;
    result.normalised = path.joined();
    if (path.escaped()) {
        result.status = PathStatus::Escaped;
        return result;
    }
    // The limit on home + "\" + the unnormalised text.
    if (homeDirectory.size() + 1 + virtualText.size() > kMaxPathTextBytes) {
        result.normalised.clear();
        return result;
    }
    std::optional<std::string> local = localPathOf(homeDirectory, path);
    if (!local) {
        result.normalised.clear();
        return result;
    }
    result.status = PathStatus::Resolved;
    result.localPath = std::move(*local);
    return result;
}

}  // namespace corvel
