#include "gui/logic/about_bar.hpp"

#include "core/printf.hpp"

namespace vntr::gui {

int NextAboutValue(int a) {
    a /= 2;
    return a <= 0 ? kAboutStart : a;
}

double AboutBluePartUnits(int a) {
    return (5.0 * a + 30.0) / 4.0;
}

std::string AboutRateLabel(int a) {
    return evaluator::Printf("%d", a * 250);
}

std::string AboutRatioLabel(int a) {
    if (a <= 0) return "-";
    return evaluator::Printf("%d:1", static_cast<int>(80.0 / a + 0.5));
}

} // namespace vntr::gui
