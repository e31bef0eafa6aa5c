#include "console/logic/TrayAnimation.h"

namespace corvel {

TrayIconChoice TrayAnimation::next(bool serverRunning, bool hadConnections) {
    if (!serverRunning) return {TrayPicture::Stopped, 0};
    if (!hadConnections) {
        counter_ = 0;
        return {TrayPicture::Idle, 0};
    }
    const int frame = int(counter_ % kTrayFrameCount);
    ++counter_;
    return {TrayPicture::Busy, frame};
}

}  // namespace corvel
