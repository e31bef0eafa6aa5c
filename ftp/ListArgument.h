// The path argument of LIST and NLST with <ftpext>: the whole text after any
// leading ls options, so a name with blanks is one path.
#pragma once

#include <string>

namespace corvel {

// Skips the words at the start that begin with "-" ("-la", "-l -a") and the blanks
// after each; the rest, blanks and all, is the path ("" lists the current
// directory). Only leading words count: "dir -l" is the path "dir -l". Pure.
std::string skipListOptions(const std::string& argument);

}  // namespace corvel
