// The directory of the running executable, where the XML files live.
#pragma once

#include <string>

namespace corvel {

// The part of path up to and including its last '/' or '\'; the whole path if none.
std::string directoryOfPath(const std::string& path);

}  // namespace corvel
