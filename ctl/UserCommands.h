// corvelctl's user commands (list, add, passwd, set, del, key) on ftpusers.xml, with the
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
// user key add|list|del: the account's SSH public keys for the SFTP sign-in, kept
// as <sshkey> children of its user element.
int addUserKeys(const CommandContext& context);
int listUserKeys(const CommandContext& context);
int removeUserKey(const CommandContext& context);

}  // namespace corvel
