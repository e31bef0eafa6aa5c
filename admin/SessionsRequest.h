// Asks a running server for its live sessions, or to close some, through the control
// word and the sessions block (common/SessionsBlock.h).
#pragma once

#include <optional>

#include "admin/ControlExchange.h"
#include "common/SessionsBlock.h"

namespace corvel {

// The server's live sessions; nullopt with *outcome when it gave none.
std::optional<SessionList> fetchSessions(ExchangeOutcome* outcome);

// Closes the sessions request names; how many were closed, or nullopt with *outcome.
std::optional<std::uint32_t> requestKick(const KickRequest& request, ExchangeOutcome* outcome);

}  // namespace corvel
