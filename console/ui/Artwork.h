// The console's pictures, drawn in code: tray icons and animation frames, toolbar
// pictures and the status panel's background tiles.
#pragma once

#include <QIcon>
#include <QImage>

#include "console/logic/StatusLines.h"
#include "console/logic/TrayAnimation.h"

namespace corvel {

enum class CommandPicture { Start, Stop, ServiceMode, Basic, Id, Policy, About, Exit };

// A tray picture at size x size pixels: blue for the program icon, grey with a red
// stop mark when stopped, green when idle, green with a spark one seventh of a turn
// further round the edge on each busy frame.
QImage trayImage(TrayIconChoice choice, int size);
QIcon trayIcon(TrayIconChoice choice);

// A 24 x 24 toolbar picture.
QImage commandImage(CommandPicture picture, int size = 24);
QIcon commandIcon(CommandPicture picture);

// An 80 x 80 background tile with a faint diagonal watermark of the product name.
QImage statusTileImage(StatusTile tile);

}  // namespace corvel
