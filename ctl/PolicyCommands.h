// corvelctl's policy commands (show, mode, add, del) on ftpaccess.xml, through
// AccessFile, with the console's rules and the address-pattern check.
#pragma once

#include "ctl/CommandContext.h"

namespace corvel {

// Each returns the exit status; a change is written atomically and a running
// server is asked to reload the policy.
int showPolicy(const CommandContext& context);
int setPolicyMode(const CommandContext& context);
int addPattern(const CommandContext& context);
int removePattern(const CommandContext& context);

}  // namespace corvel
