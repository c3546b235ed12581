#include "gui/logic/plot_scale.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vntr::gui {
namespace {

constexpr double kSteps[] = {1, 2, 5};

// The largest 1, 2 or 5 times a power of ten at or below v (v > 0).
double RoundDown125(double v) {
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    double best = decade;
    for (const double s : kSteps) {
        if (s * decade <= v * (1 + 1e-12)) best = s * decade;
    }
    return best;
}

// The smallest 1, 2 or 5 times a power of ten at or above v (v > 0).
double RoundUp125(double v) {
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    for (const double s : kSteps) {
        if (s * decade >= v * (1 - 1e-12)) return s * decade;
    }
    return 10 * decade;
}

// A round step giving about five intervals over the span.
double LinearStep(double span) {
    return RoundUp125(span / 5.0);
}

} // namespace

PlotAxis PlotAxis::Fit(std::span<const double> values, bool logarithmic) {
    double low = HUGE_VAL;
    double high = -HUGE_VAL;
    for (const double v : values) {
        if (!std::isfinite(v) || (logarithmic && v <= 0)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    if (logarithmic) {
        if (low > high) return {1000, 100000, true};
        low = RoundDown125(low);
        high = RoundUp125(high);
        if (high <= low) high = RoundUp125(low * 1.5);
        return {low, high, true};
    }
    if (low > high) return {0, 10, false};
    if (high - low < 1e-9) {
        // One value (or all the same): a span around it.
        const double pad = std::max(1.0, std::abs(low) * 0.1);
        low -= pad;
        high += pad;
    }
    const double step = LinearStep(high - low);
    return {std::floor(low / step) * step, std::ceil(high / step) * step, false};
}

PlotAxis PlotAxis::FitMiddle(std::vector<double> values, double share, double floor, double ceiling,
                             double minimumSpan) {
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    if (values.empty()) return {floor, std::min(ceiling, floor + std::max(minimumSpan, 1e-9)), false};
    const double cut = std::clamp((1.0 - share) / 2.0, 0.0, 0.5);
    // The value of rank q (0: the lowest, 1: the highest).
    const auto at = [&](double q) {
        const auto rank = static_cast<std::ptrdiff_t>(std::lround(q * static_cast<double>(values.size() - 1)));
        std::nth_element(values.begin(), values.begin() + rank, values.end());
        return values[static_cast<std::size_t>(rank)];
    };
    double low = std::max(at(cut), floor);
    double high = std::min(at(1.0 - cut), ceiling);
    if (high - low < minimumSpan) {
        // Widened around the middle, kept within the bounds.
        const double middle = (low + high) / 2;
        low = std::max(floor, middle - minimumSpan / 2);
        high = std::min(ceiling, low + minimumSpan);
        low = std::max(floor, high - minimumSpan);
    }
    const double step = LinearStep(high - low);
    return {std::max(floor, std::floor(low / step + 1e-9) * step),
            std::min(ceiling, std::ceil(high / step - 1e-9) * step), false};
}

double PlotAxis::Fraction(double value) const {
    if (log_) {
        if (value <= 0) return -HUGE_VAL;
        return (std::log(value) - std::log(low_)) / (std::log(high_) - std::log(low_));
    }
    return (value - low_) / (high_ - low_);
}

std::vector<double> PlotAxis::Ticks() const {
    std::vector<double> ticks;
    if (log_) {
        for (double decade = std::pow(10.0, std::floor(std::log10(low_))); decade <= high_; decade *= 10) {
            for (const double s : kSteps) {
                const double t = s * decade;
                if (t >= low_ * (1 - 1e-9) && t <= high_ * (1 + 1e-9)) ticks.push_back(t);
            }
        }
        return ticks;
    }
    const double step = LinearStep(high_ - low_);
    const double first = std::ceil(low_ / step - 1e-9);
    for (int i = 0;; ++i) {
        const double t = (first + i) * step;
        if (t > high_ + step * 1e-9) break;
        ticks.push_back(std::abs(t) < step * 1e-9 ? 0.0 : t);
    }
    return ticks;
}

std::string PlotAxis::TickText(double value, bool logarithmic) {
    char text[32];
    if (logarithmic && value >= 1000) {
        std::snprintf(text, sizeof text, "%gk", value / 1000);
    } else {
        std::snprintf(text, sizeof text, "%g", value);
    }
    return text;
}

} // namespace vntr::gui
