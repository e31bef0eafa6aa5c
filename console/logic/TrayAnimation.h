// Picks the tray picture on each status tick: stopped, idle, or the next of seven
// animation frames while FTP connections are open.
#pragma once

namespace corvel {

enum class TrayPicture { Initial, Stopped, Idle, Busy };

struct TrayIconChoice {
    TrayPicture picture = TrayPicture::Initial;
    int frame = 0;  // 0 to kTrayFrameCount - 1; meaningful for Busy only

    bool operator==(const TrayIconChoice&) const = default;
};

// Frames of the busy animation, shown one per tick in order and then again.
constexpr int kTrayFrameCount = 7;

// Owned by the UI thread.
class TrayAnimation {
public:
    // hadConnections comes from the status read of the previous tick.
    TrayIconChoice next(bool serverRunning, bool hadConnections);

private:
    unsigned counter_ = 0;
};

}  // namespace corvel
