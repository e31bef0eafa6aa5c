// corvelctl's commands for the running server: status (its status block), reload
// (a control-block bit) and stop (its stop event).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "ctl/CommandContext.h"

namespace corvel {

// Longest wait for a stopped server to let go of its status block (milliseconds);
// it ends within one loop turn, well under a second, once it sees the event.
inline constexpr int kStopWaitMs = 15000;

int showStatus(const CommandContext& context);
int reloadFile(const CommandContext& context);
int stopServer(const CommandContext& context);

// time in ISO 8601 with the local zone's offset, e.g. "2026-12-08T15:20:29+01:00".
std::string isoLocalTime(std::time_t time);
// A duration as "H:MM:SS", hours not reduced, e.g. "27:03:09".
std::string durationText(std::uint32_t seconds);

}  // namespace corvel
