#include "console/logic/StatusLines.h"

#include <string>

namespace corvel {

std::string runningTimeText(std::uint32_t startTime, std::uint32_t now) {
    const std::uint32_t elapsed = now - startTime;  // wraps like the 32-bit fields do
    const std::uint32_t minutes = elapsed % 3600 / 60;
    return std::to_string(elapsed / 3600) + (minutes < 10 ? ":0" : ":") + std::to_string(minutes);
}

StatusTile statusTileFor(const StatusSnapshot& snapshot) {
    if (!snapshot.available) return StatusTile::Grey;
    return snapshot.active() ? StatusTile::Green : StatusTile::Blue;
}

std::vector<std::string> statusLines(const StatusSnapshot& snapshot, const LocalHost& host, std::uint32_t now) {
    if (!snapshot.available) return {kStoppedLine};
    std::string addressLine = "LOCALHOST   IP: ";
    if (!snapshot.bindAddress.empty()) {
        addressLine += snapshot.bindAddress;
    } else {
        for (const std::string& address : host.addresses) addressLine += address + " ";
    }
    return {
        "LOCALHOST NAME: " + host.officialName,
        addressLine,
        "      FTP PORT: " + std::to_string(snapshot.ftpPort),
        "      WEB PORT: " + std::to_string(snapshot.webPort),
        "  MAX SIM CONN: " + std::to_string(snapshot.maxConnections),
        "  CURRENT CONN: " + std::to_string(snapshot.currentConnections),
        "   HAS RUN FOR: " + runningTimeText(snapshot.startTime, now),
    };
}

}  // namespace corvel
