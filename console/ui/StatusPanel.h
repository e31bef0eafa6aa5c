// The main window's client area: the server's live status over a coloured tile,
// painted off screen and copied in one go so that five repaints a second do not flicker.
#pragma once

#include <string>
#include <vector>

#include <QFont>
#include <QFrame>
#include <QPixmap>

#include "console/logic/StatusLines.h"

namespace corvel {

class StatusPanel : public QFrame {
    Q_OBJECT
public:
    explicit StatusPanel(QWidget* parent = nullptr);

    // Takes what to show and repaints without erasing the background first.
    void showStatus(StatusTile tile, std::vector<std::string> lines);

    const std::vector<std::string>& lines() const { return lines_; }
    StatusTile tile() const { return tile_; }
    // "Courier New" where installed, else the system's fixed-pitch font.
    static QFont panelFont();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont font_;
    QPixmap tiles_[3];
    StatusTile tile_ = StatusTile::Grey;
    std::vector<std::string> lines_{kStoppedLine};
};

}  // namespace corvel
