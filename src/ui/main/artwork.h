#pragma once

#include "acquisition/loadstate.h"

#include <QIcon>
#include <QPixmap>

namespace powerlog {

// The program's pictures, painted as vector drawings so they stay crisp at any size and
// device pixel ratio.

enum class Button { Record, Stop, Refresh, Options, Charts, Clear };

// Tray pictures: 0 no link, 1..9 power level from idle to full line power, 10 busy.
inline constexpr int kTrayPictureCount = 11;
inline constexpr int kTrayNoLink = 0;
inline constexpr int kTrayBusy = 10;

// A load icon `logicalSize` pixels square, drawn with `devicePixelRatio` device pixels per
// logical pixel.
QPixmap loadPicture(LoadPicture picture, int logicalSize, qreal devicePixelRatio = 1.0);
QIcon loadIcon(LoadPicture picture);

// An index outside 0..10 gives the no-link picture.
QIcon trayPicture(int index);
QIcon buttonIcon(Button button);
QIcon appIcon();

} // namespace powerlog
