// Geometry of the main window in layout units.  One unit u is (height of the
// window's text font + 4) / 5 pixels; every position is a multiple of u
// rounded to whole pixels, and n is the number of selected codecs (the rows).
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace vntr::gui {

class Layout {
public:
    explicit Layout(int fontHeight) : u_(static_cast<float>(fontHeight + 4) / 5.0f) {}

    float Unit() const { return u_; }
    // `units` layout units in whole pixels.
    int Px(double units) const;

    // 163u wide, (5n + 47)u + 140 pixels high: rows, status area and logo.
    QSize WindowSize(int rows) const;

    // Tool buttons: 5u square at y = 2u, x = 5u (open), 10u (record),
    // 15u (process), 30u (play original), 35u (save recording).
    QRect ToolButton(double xUnits) const;

    // The original's bar at y = 2u and its line at y = 8u.
    QRect OriginalBar() const;
    int OriginalLineTop() const { return Px(8); }

    // Display row r (0-based) at y = (5r + 13)u.
    int RowTop(int row) const { return Px(5.0 * row + 13); }
    QRect RowPlayButton(int row) const;
    QRect RowSaveButton(int row) const;
    // The result bar of a row, from 40u to 155u.
    QRect RowBar(int row) const;
    // Length of the blue part for a compression ratio: 115 / ratio units,
    // never beyond the bar.
    int BluePartPx(float ratio) const;

    // The status area: from (5u, (5n + 18)u) to (155u, (5n + 45)u), with
    // its lines at (5n + 20)u, (5n + 25)u, ... every 5u.
    QRect StatusArea(int rows) const;
    int StatusLineTop(int rows, int line) const { return Px(5.0 * rows + 20 + 5.0 * line); }
    static constexpr int kStatusLines = 5;
    QRect BreakButton(int rows) const;
    QRect ProgressBar(int rows) const;
    int LogoTop(int rows) const { return Px(5.0 * rows + 46); }

    // The level meter, a column of five segments beside the process button.
    QRect Meter() const;

    // The row under a click: g = floor((y - 13u) / 5u) + 1 when x lies in
    // the band of the result bars (40u to 155u) and 1 <= g <= rows; else 0.
    int RowAt(QPoint at, int rows) const;

private:
    float u_;
};

} // namespace vntr::gui
