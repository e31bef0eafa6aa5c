// Whether this process may use a directory, asked of the system as it stands for the
// process: its own user, capabilities and mount view (a service's confinement hides
// or freezes places that other processes see writable).
#pragma once

#include <string>

namespace corvel {

enum class DirectoryUse { Read, Write };

// Empty when the process may list and enter path (Read), and also create and remove
// entries in it (Write); otherwise the system's text for why not ("No such file or
// directory", "Not a directory", "Read-only file system", "Permission denied").
// Thread-safe.
std::string directoryAccessProblem(const std::string& path, DirectoryUse use);

}  // namespace corvel
