// corvelctl sessions and kick: the running server's live sessions, and closing some.
#pragma once

#include "ctl/CommandContext.h"

namespace corvel {

int listSessions(const CommandContext& context);
int kickSessions(const CommandContext& context);

}  // namespace corvel
