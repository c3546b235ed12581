// The program's pictures, all drawn here: the tool buttons in their up,
// down and disabled looks, the bullets of the status area, the level
// meter's segments, the logo and the window icon.
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>

namespace vntr::gui {

// The window's background, a light grey.
inline const QColor kWindowGrey{0xC0, 0xC0, 0xC0};
inline const QColor kBarCyan{0x00, 0xFF, 0xFF};
inline const QColor kBarBlue{0x00, 0x00, 0xFF};

enum class Glyph { Play, Record, Open, Stop, Save, Process };
enum class ButtonLook { Up, Down, Disabled };

// A square tool button of `side` pixels.
QPixmap ButtonPicture(Glyph glyph, ButtonLook look, int side);

// A round bullet; the green one marks the lines of a codec's details and of
// work in progress.
QPixmap BulletPicture(bool green, int side);

// One segment of the level meter with `fill` of its eight steps lit (0..8);
// the saturated look is the top segment's.
QPixmap MeterPicture(int fill, bool saturated, QSize size);

// The logo, 200 x 93 pixels; white is see-through.
QPixmap LogoPicture();
inline constexpr QSize kLogoSize{200, 93};

QIcon ProgramIcon();

} // namespace vntr::gui
