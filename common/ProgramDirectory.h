// The directory of the running executable, where the XML files live.
#pragma once

#include <string>

namespace corvel {

// The executable's path cut after its last '/' (or '\'); the whole path when it has
// no separator. Read from /proc/self/exe.
std::string programDirectory();

// The part of path up to and including its last '/' or '\'; the whole path if none.
std::string directoryOfPath(const std::string& path);

}  // namespace corvel
