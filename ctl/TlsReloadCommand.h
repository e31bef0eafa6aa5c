// corvelctl reload tls: the running server loads its certificate and key files again
// (a renewed certificate), and says whether it took them.
#pragma once

#include "ctl/CommandContext.h"

namespace corvel {

// Exit 0 when the server took the pair; 1 with the reason when it refused it (the
// pair in use stays), when no server runs or it did not answer.
int reloadTlsPair(const CommandContext& context);

}  // namespace corvel
