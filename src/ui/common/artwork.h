#pragma once

#include "acquisition/loadstate.h"
#include "acquisition/reading.h"

#include <QIcon>
#include <QPixmap>

namespace powerlog {

// The program's pictures, painted as vector drawings so they stay crisp at any size and
// device pixel ratio.

enum class Button { Record, Stop, Refresh, Options, Charts, Clear, Tariff };

// What a load icon shows: the window's design picture until the first event, then one picture
// per load state, or the highlight while the pointer rests on it.
enum class LoadPicture {
    Design,
    Off,
    On,
    Forced,
    Other,
    Highlight,
    Unknown,
};

// The picture of a load's state.
LoadPicture statePicture(LoadState state);

// Tray pictures: kTrayNoLink, 1..9 power level from idle to full line power, kTrayBusy.
inline constexpr int kTrayPictureCount = 11;

// A load icon `logicalSize` pixels square, drawn with `devicePixelRatio` device pixels per
// logical pixel.
QPixmap loadPicture(LoadPicture picture, int logicalSize, qreal devicePixelRatio = 1.0);
QIcon loadIcon(LoadPicture picture);

// An index outside 0..10 gives the no-link picture.
QIcon trayPicture(int index);
QIcon buttonIcon(Button button);
QIcon appIcon();

// The language flags of the options window.
enum class Flag { Italian, British };
// A flag 24 x 16; the disabled flag (the language in use) is greyed by QIcon.
QIcon flagIcon(Flag flag);

} // namespace powerlog
