// corvelctl's user commands (list, add, passwd, set, del) on ftpusers.xml, with the
// console's rules, through UsersFile under the users-file lock.
#pragma once

#include "ctl/CommandContext.h"

namespace corvel {

// Each returns the exit status. Every change is written atomically while the lock
// is held; the reload is requested only after the lock is let go, since the server
// takes the control block's mutex first and the users-file mutex second.
int listUsers(const CommandContext& context);
int addUser(const CommandContext& context);
int changePassword(const CommandContext& context);
int changeUser(const CommandContext& context);
int removeUser(const CommandContext& context);

}  // namespace corvel
