// The tray picture chosen on each tick, and that the drawn pictures tell the states apart.

#include "console/logic/TrayAnimation.h"

#include <gtest/gtest.h>

#include <QImage>

#include "GuiApplication.h"
#include "console/ui/Artwork.h"

namespace corvel {
namespace {

TrayIconChoice busy(int frame) { return {TrayPicture::Busy, frame}; }

TEST(TrayAnimation, StepsThroughTheSevenFramesWhileConnectionsAreOpen) {
    TrayAnimation animation;
    for (int round = 0; round < 3; ++round)
        for (int frame = 0; frame < kTrayFrameCount; ++frame) EXPECT_EQ(animation.next(true, true), busy(frame));
}

TEST(TrayAnimation, ShowsIdleAndStartsOverWhenTheLastConnectionCloses) {
    TrayAnimation animation;
    (void)animation.next(true, true);
    (void)animation.next(true, true);
    EXPECT_EQ(animation.next(true, false), (TrayIconChoice{TrayPicture::Idle, 0}));
    EXPECT_EQ(animation.next(true, true), busy(0));
}

TEST(TrayAnimation, ShowsStoppedWithoutAServerWhateverTheLastStatusSaid) {
    TrayAnimation animation;
    EXPECT_EQ(animation.next(false, false).picture, TrayPicture::Stopped);
    EXPECT_EQ(animation.next(false, true).picture, TrayPicture::Stopped);
}

// Share of pixels that differ by more than a faint shade.
double differingShare(const QImage& a, const QImage& b) {
    int differing = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) +
                    std::abs(p.alpha() - q.alpha()) > 60)
                ++differing;
        }
    return double(differing) / (a.width() * a.height());
}

TEST(TrayPictures, TellStoppedIdleAndStartApartAtTrayIconSize) {
    guiApplication();
    const QImage initial = trayImage({TrayPicture::Initial, 0}, 16);
    const QImage stopped = trayImage({TrayPicture::Stopped, 0}, 16);
    const QImage idle = trayImage({TrayPicture::Idle, 0}, 16);
    EXPECT_GT(differingShare(stopped, idle), 0.3);
    EXPECT_GT(differingShare(initial, idle), 0.3);
    EXPECT_GT(differingShare(initial, stopped), 0.3);
}

TEST(TrayPictures, EveryAnimationFrameDiffersVisiblyFromTheOthersAndFromIdle) {
    guiApplication();
    const QImage idle = trayImage({TrayPicture::Idle, 0}, 16);
    for (int a = 0; a < kTrayFrameCount; ++a) {
        const QImage frame = trayImage(busy(a), 16);
        EXPECT_GT(differingShare(frame, idle), 0.05) << "frame " << a;
        for (int b = a + 1; b < kTrayFrameCount; ++b)
            EXPECT_GT(differingShare(frame, trayImage(busy(b), 16)), 0.05) << "frames " << a << " and " << b;
    }
}

TEST(StatusTiles, AreBlueGreyAndGreenAsNamed) {
    guiApplication();
    auto average = [](const QImage& image) {
        long r = 0, g = 0, b = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                r += c.red(), g += c.green(), b += c.blue();
            }
        const long n = long(image.width()) * image.height();
        return QColor(int(r / n), int(g / n), int(b / n));
    };
    const QColor blue = average(statusTileImage(StatusTile::Blue));
    const QColor grey = average(statusTileImage(StatusTile::Grey));
    const QColor green = average(statusTileImage(StatusTile::Green));
    EXPECT_GT(blue.blue(), blue.red() + 50);
    EXPECT_GT(green.green(), green.red() + 50);
    EXPECT_LT(std::abs(grey.red() - grey.blue()), 10);
    EXPECT_EQ(statusTileImage(StatusTile::Blue).size(), QSize(80, 80));
    // The watermark is there, but faint: a few pixels differ, none by much.
    const QImage tile = statusTileImage(StatusTile::Blue);
    const QColor base = tile.pixelColor(0, 0);
    int marked = 0, maxDistance = 0;
    for (int y = 0; y < tile.height(); ++y)
        for (int x = 0; x < tile.width(); ++x) {
            const QColor c = tile.pixelColor(x, y);
            const int distance = std::abs(c.red() - base.red()) + std::abs(c.green() - base.green()) +
                                 std::abs(c.blue() - base.blue());
            if (distance > 0) ++marked;
            maxDistance = std::max(maxDistance, distance);
        }
    EXPECT_GT(marked, 50);
    EXPECT_LT(marked, 80 * 80 / 4);
    EXPECT_LT(maxDistance, 120);
}

}  // namespace
}  // namespace corvel
