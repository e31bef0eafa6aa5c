#include "console/ui/StatusPanel.h"

#include <utility>

#include <QBrush>
#include <QFontDatabase>
#include <QPainter>

#include "console/ui/Artwork.h"

namespace corvel {
namespace {

constexpr int kTextLeft = 10;
constexpr int kFirstLineTop = 10;
constexpr int kLinePitch = 20;
// Cell height 16 of the classic face corresponds to this em size.
constexpr int kFontPixelSize = 14;

const QColor kLiveText(255, 255, 255);
const QColor kStoppedText(255, 255, 0);

int tileIndex(StatusTile tile) { return static_cast<int>(tile); }

}  // namespace

QFont StatusPanel::panelFont() {
    QFont font = QFontDatabase::hasFamily(QStringLiteral("Courier New"))
                     ? QFont(QStringLiteral("Courier New"))
                     : QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(kFontPixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

StatusPanel::StatusPanel(QWidget* parent) : QFrame(parent), font_(panelFont()) {
    setObjectName(QStringLiteral("statusPanel"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (StatusTile tile : {StatusTile::Blue, StatusTile::Grey, StatusTile::Green})
        tiles_[tileIndex(tile)] = QPixmap::fromImage(statusTileImage(tile));
}

QSize StatusPanel::sizeHint() const { return QSize(480, 170); }

void StatusPanel::showStatus(StatusTile tile, std::vector<std::string> lines) {
    tile_ = tile;
    lines_ = std::move(lines);
    update();
}

void StatusPanel::paintEvent(QPaintEvent*) {
    const QRect area = contentsRect();
    if (area.isEmpty()) return;
    const qreal ratio = devicePixelRatioF();
    QPixmap buffer(area.size() * ratio);
    buffer.setDevicePixelRatio(ratio);
    {
        QPainter p(&buffer);
        p.fillRect(QRect(QPoint(0, 0), area.size()), QBrush(tiles_[tileIndex(tile_)]));
        p.setFont(font_);
        p.setPen(tile_ == StatusTile::Grey ? kStoppedText : kLiveText);
        const int ascent = QFontMetrics(font_).ascent();
        int top = kFirstLineTop;
        for (const std::string& line : lines_) {
            p.drawText(kTextLeft, top + ascent, QString::fromStdString(line));
            top += kLinePitch;
        }
    }
    QPainter window(this);
    window.drawPixmap(area.topLeft(), buffer);
    drawFrame(&window);
}

}  // namespace corvel
