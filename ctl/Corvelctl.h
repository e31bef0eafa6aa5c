// corvelctl from its arguments to its exit status: parses them, picks the program
// directory and runs the command.
#pragma once

#include <string>
#include <vector>

#include "ctl/CommandContext.h"

namespace corvel {

// arguments are those after the program name. The program directory is --dir (a
// '/' is added when missing) or else defaultProgramDirectory (ending in '/'). Help
// goes to io.out; usage errors and refusals to io.err. Returns 0, 1 or 2.
int runCorvelctl(const std::vector<std::string>& arguments, const std::string& defaultProgramDirectory, CtlIo& io);

}  // namespace corvel
