// The status panel's text: seven lines of live server facts, or the stopped line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "admin/StatusSnapshot.h"
#include "platform/HostName.h"

namespace corvel {

inline constexpr char kStoppedLine[] = "CorvelFtp Service is stoped.";

// The panel's background: grey with no server, green while connections are open,
// blue for a server without connections.
enum class StatusTile { Blue, Grey, Green };
StatusTile statusTileFor(const StatusSnapshot& snapshot);

// Hours and minutes since startTime, "H:MM" with hours not reduced modulo 24; both
// times are taken as unsigned 32-bit seconds, as the status block stores them.
std::string runningTimeText(std::uint32_t startTime, std::uint32_t now);

// The lines the panel draws from top to bottom: only kStoppedLine when the snapshot
// is not available, else the seven labelled lines.
std::vector<std::string> statusLines(const StatusSnapshot& snapshot, const LocalHost& host, std::uint32_t now);

}  // namespace corvel
