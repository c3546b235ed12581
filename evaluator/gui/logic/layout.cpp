#include "gui/logic/layout.hpp"

#include <algorithm>
#include <cmath>

namespace vntr::gui {

int Layout::Px(double units) const {
    return static_cast<int>(std::lround(units * static_cast<double>(u_)));
}

QSize Layout::WindowSize(int rows) const {
    return {Px(163), Px(5.0 * rows + 47) + 140};
}

QRect Layout::ToolButton(double xUnits) const {
    return {Px(xUnits), Px(2), Px(5), Px(5)};
}

QRect Layout::OriginalBar() const {
    return QRect(QPoint(Px(40), Px(2)), QPoint(Px(155) - 1, Px(7) - 2));
}

QRect Layout::RowPlayButton(int row) const {
    return {Px(30), RowTop(row), Px(5), Px(5)};
}

QRect Layout::RowSaveButton(int row) const {
    return {Px(35), RowTop(row), Px(5), Px(5)};
}

QRect Layout::RowBar(int row) const {
    return QRect(QPoint(Px(40), RowTop(row) + 1), QPoint(Px(155) - 1, RowTop(row + 1) - 2));
}

int Layout::BluePartPx(float ratio) const {
    if (!(ratio > 0.0f)) return 0;
    const int full = Px(155) - Px(40);
    return std::clamp(Px(115.0 / static_cast<double>(ratio)), 1, full);
}

QRect Layout::StatusArea(int rows) const {
    return QRect(QPoint(Px(5), Px(5.0 * rows + 18)), QPoint(Px(155) - 1, Px(5.0 * rows + 45) - 1));
}

QRect Layout::BreakButton(int rows) const {
    return {Px(132), Px(5.0 * rows + 34), Px(20), Px(5)};
}

QRect Layout::ProgressBar(int rows) const {
    return QRect(QPoint(Px(100), Px(5.0 * rows + 25)), QPoint(Px(152) - 1, Px(5.0 * rows + 29)));
}

QRect Layout::Meter() const {
    return QRect(QPoint(Px(22), Px(2)), QPoint(Px(26) - 1, Px(12) - 1));
}

int Layout::RowAt(QPoint at, int rows) const {
    if (at.x() < Px(40) || at.x() > Px(155)) return 0;
    const double g = std::floor((at.y() - 13.0 * u_) / (5.0 * u_)) + 1;
    return g >= 1 && g <= rows ? static_cast<int>(g) : 0;
}

} // namespace vntr::gui
