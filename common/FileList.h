// The file names of a list setting such as <sftphostkey>: names separated by commas,
// for the server and the tools to read alike.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvel {

// The names of text in order: separated by ',', blanks, tabs and line ends around
// each left out, empty names dropped. A name cannot hold a comma.
std::vector<std::string> fileListValue(std::string_view text);

}  // namespace corvel
