#include "console/ui/Artwork.h"

#include <cmath>

#include <QColor>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace corvel {
namespace {

// Pictures are drawn on a design grid and scaled to the requested size.
constexpr double kTrayGrid = 32.0;
constexpr double kCommandGrid = 24.0;
constexpr int kTileSize = 80;

QImage blankImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void drawBadge(QPainter& p, const QColor& top, const QColor& bottom) {
    QLinearGradient gradient(0, 0, 0, kTrayGrid);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    p.setPen(QPen(bottom.darker(150), 1.5));
    p.setBrush(gradient);
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 6, 6);
}

// Two arrows, up and down: files going both ways.
void drawTransferArrows(QPainter& p, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRect(QRectF(9, 13, 4, 11));
    p.drawPolygon(QPolygonF({QPointF(5, 14), QPointF(11, 6), QPointF(17, 14)}));
    p.drawRect(QRectF(19, 8, 4, 11));
    p.drawPolygon(QPolygonF({QPointF(15, 18), QPointF(21, 26), QPointF(27, 18)}));
}

void drawStopMark(QPainter& p) {
    p.setPen(QPen(QColor(120, 0, 0), 1.2));
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(QPointF(22, 22), 8.5, 8.5);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(16.5, 20.5, 11, 3));
}

void drawSpark(QPainter& p, int frame) {
    // Frame 0 sits at the top; each frame moves one seventh of a turn clockwise.
    const double step = 2 * M_PI / kTrayFrameCount;
    auto at = [step](int index) {
        const double angle = -M_PI / 2 + step * index;
        return QPointF(16 + 12 * std::cos(angle), 16 + 12 * std::sin(angle));
    };
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 230, 120, 150));
    p.drawEllipse(at(frame + kTrayFrameCount - 1), 2.5, 2.5);
    p.setPen(QPen(QColor(150, 80, 0), 1));
    p.setBrush(QColor(255, 200, 0));
    p.drawEllipse(at(frame), 4.2, 4.2);
}

void drawGear(QPainter& p) {
    const QColor steel(60, 90, 140);
    p.setPen(Qt::NoPen);
    p.setBrush(steel);
    for (int tooth = 0; tooth < 8; ++tooth) {
        p.save();
        p.translate(12, 12);
        p.rotate(tooth * 45.0);
        p.drawRect(QRectF(-2, -10.5, 4, 5));
        p.restore();
    }
    p.drawEllipse(QPointF(12, 12), 7.5, 7.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 12), 3, 3);
}

void drawSliders(QPainter& p) {
    p.setPen(QPen(QColor(70, 70, 70), 2, Qt::SolidLine, Qt::RoundCap));
    for (double y : {6.0, 12.0, 18.0}) p.drawLine(QPointF(3, y), QPointF(21, y));
    p.setPen(QPen(QColor(120, 60, 0), 1));
    p.setBrush(QColor(245, 150, 30));
    p.drawRect(QRectF(6, 3.5, 4, 5));
    p.drawRect(QRectF(14, 9.5, 4, 5));
    p.drawRect(QRectF(9, 15.5, 4, 5));
}

void drawPerson(QPainter& p) {
    p.setPen(QPen(QColor(20, 50, 110), 1));
    p.setBrush(QColor(70, 120, 210));
    p.drawEllipse(QPointF(12, 7.5), 4.5, 4.5);
    QPainterPath body;
    body.moveTo(3, 22.5);
    body.cubicTo(3, 13, 21, 13, 21, 22.5);
    body.closeSubpath();
    p.drawPath(body);
}

void drawShield(QPainter& p) {
    QPainterPath shield;
    shield.moveTo(12, 2);
    shield.lineTo(20.5, 5);
    shield.cubicTo(20.5, 14, 17, 19, 12, 22.5);
    shield.cubicTo(7, 19, 3.5, 14, 3.5, 5);
    shield.closeSubpath();
    p.setPen(QPen(QColor(0, 80, 60), 1.2));
    p.setBrush(QColor(30, 150, 110));
    p.drawPath(shield);
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(8, 12), QPointF(11, 15.5), QPointF(16.5, 8.5)}));
}

void drawInformation(QPainter& p) {
    p.setPen(QPen(QColor(20, 50, 120), 1));
    p.setBrush(QColor(50, 110, 220));
    p.drawEllipse(QPointF(12, 12), 10, 10);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 6.8), 1.8, 1.8);
    p.drawRect(QRectF(10.4, 10, 3.2, 8.5));
}

void drawDoor(QPainter& p) {
    p.setPen(QPen(QColor(80, 45, 10), 1));
    p.setBrush(QColor(170, 110, 50));
    p.drawRect(QRectF(3.5, 2.5, 10, 19));
    p.setBrush(QColor(250, 220, 100));
    p.drawEllipse(QPointF(11.5, 12), 1, 1);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 30, 30));
    p.drawRect(QRectF(12, 10.5, 6, 3));
    p.drawPolygon(QPolygonF({QPointF(17, 6.5), QPointF(22.5, 12), QPointF(17, 17.5)}));
}

void drawPlay(QPainter& p) {
    p.setPen(QPen(QColor(0, 90, 20), 1.2, Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
    p.setBrush(QColor(40, 180, 60));
    p.drawPolygon(QPolygonF({QPointF(6, 3.5), QPointF(6, 20.5), QPointF(20.5, 12)}));
}

void drawStopSquare(QPainter& p) {
    p.setPen(QPen(QColor(110, 0, 0), 1.2));
    p.setBrush(QColor(215, 35, 35));
    p.drawRoundedRect(QRectF(4.5, 4.5, 15, 15), 2, 2);
}

}  // namespace

QImage trayImage(TrayIconChoice choice, int size) {
    QImage image = blankImage(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kTrayGrid, size / kTrayGrid);
    switch (choice.picture) {
    case TrayPicture::Initial:
        drawBadge(p, QColor(80, 140, 230), QColor(25, 65, 160));
        drawTransferArrows(p, Qt::white);
        break;
    case TrayPicture::Stopped:
        drawBadge(p, QColor(185, 185, 185), QColor(115, 115, 115));
        drawTransferArrows(p, QColor(225, 225, 225));
        drawStopMark(p);
        break;
    case TrayPicture::Idle:
        drawBadge(p, QColor(90, 200, 110), QColor(25, 120, 50));
        drawTransferArrows(p, Qt::white);
        break;
    case TrayPicture::Busy:
        drawBadge(p, QColor(90, 200, 110), QColor(25, 120, 50));
        drawTransferArrows(p, Qt::white);
        drawSpark(p, choice.frame % kTrayFrameCount);
        break;
    }
    return image;
}

QIcon trayIcon(TrayIconChoice choice) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(trayImage(choice, size)));
    return icon;
}

QImage commandImage(CommandPicture picture, int size) {
    QImage image = blankImage(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kCommandGrid, size / kCommandGrid);
    switch (picture) {
    case CommandPicture::Start: drawPlay(p); break;
    case CommandPicture::Stop: drawStopSquare(p); break;
    case CommandPicture::ServiceMode: drawGear(p); break;
    case CommandPicture::Basic: drawSliders(p); break;
    case CommandPicture::Id: drawPerson(p); break;
    case CommandPicture::Policy: drawShield(p); break;
    case CommandPicture::About: drawInformation(p); break;
    case CommandPicture::Exit: drawDoor(p); break;
    }
    return image;
}

QIcon commandIcon(CommandPicture picture) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) icon.addPixmap(QPixmap::fromImage(commandImage(picture, size)));
    return icon;
}

QImage statusTileImage(StatusTile tile) {
    QColor base;
    switch (tile) {
    case StatusTile::Blue: base = QColor(30, 60, 140); break;
    case StatusTile::Grey: base = QColor(100, 100, 100); break;
    case StatusTile::Green: base = QColor(25, 105, 55); break;
    }
    QImage image(kTileSize, kTileSize, QImage::Format_RGB32);
    image.fill(base);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont font;
    font.setPixelSize(12);
    font.setBold(true);
    p.setFont(font);
    QColor mark = base.lighter(135);
    mark.setAlpha(110);
    p.setPen(mark);
    // One word across the diagonal, placed so that tiles join into a seamless pattern.
    p.translate(kTileSize / 2.0, kTileSize / 2.0);
    p.rotate(-45);
    p.drawText(QRectF(-56, -10, 112, 20), Qt::AlignCenter, QStringLiteral("CorvelFtp"));
    return image;
}

}  // namespace corvel
