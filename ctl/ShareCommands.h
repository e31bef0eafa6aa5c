// corvelctl's share commands (list, add, revoke) on ftpshares.xml, the web client's
// share links, through SharesFile under the shares-file lock, with the server's
// rules: a link opens what its owner may open, and only that.
#pragma once

#include "ctl/CommandContext.h"

namespace corvel {

// Each returns the exit status. The server reads the file at every use of a link,
// so no reload is asked for.
int listShares(const CommandContext& context);
int addShare(const CommandContext& context);
int revokeShare(const CommandContext& context);

}  // namespace corvel
