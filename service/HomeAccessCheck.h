// What a service start says about account homes it cannot use: the unit's protection
// is written from the homes of the time of "corveld -i", so a home added later in a
// place it hides or freezes is found here, with what to do about it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "config/UsersFile.h"
#include "platform/DirectoryAccess.h"

namespace corvel {

// Asks whether a directory can be used; directoryAccessProblem unless a test says.
using DirectoryProbe = std::function<std::string(const std::string& path, DirectoryUse use)>;

// One warning per enabled account whose absolute home cannot be entered, or cannot be
// written although the account may change files or folders; none for the rest.
std::vector<std::string> homeAccessWarnings(const std::vector<UserAccount>& accounts,
                                            const DirectoryProbe& probe = directoryAccessProblem);

}  // namespace corvel
