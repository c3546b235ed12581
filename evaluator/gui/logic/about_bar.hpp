// The About box's sample result bar: a value a that starts at 70 and is
// halved every 500 ms, back to 70 when it reaches 0.  The bar's blue part is
// (5a + 30) / 4 layout units long, labelled with a x 250 and with the ratio
// 80 / a rounded.
#pragma once

#include <string>

namespace vntr::gui {

constexpr int kAboutStart = 70;
constexpr int kAboutPeriodMs = 500;

int NextAboutValue(int a);
double AboutBluePartUnits(int a);
std::string AboutRateLabel(int a);  // "17500", the number alone
std::string AboutRatioLabel(int a); // "1:1"

} // namespace vntr::gui
