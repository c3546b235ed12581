// Axes of the rate-against-quality plot: a logarithmic bit-rate axis with
// ticks at 1, 2 and 5 times a power of ten, and a linear axis with round
// steps, each fitted around the values it shows.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace vntr::gui {

class PlotAxis {
public:
    // Fits the axis around the values (ignoring those a log axis cannot
    // show); with no value, a default range.
    static PlotAxis Fit(std::span<const double> values, bool logarithmic);
    // A linear axis around the middle `share` of the values (0.98: all but
    // the lowest and highest 1 %, which a curve then draws at the edge),
    // within [floor, ceiling] and at least `minimumSpan` wide.
    static PlotAxis FitMiddle(std::vector<double> values, double share, double floor, double ceiling,
                              double minimumSpan);

    double Low() const { return low_; }
    double High() const { return high_; }
    bool Logarithmic() const { return log_; }
    // Position of a value along the axis, 0 at Low() and 1 at High().
    double Fraction(double value) const;
    std::vector<double> Ticks() const;
    // "500", "1k", "2.5k", "-10", "0.5".
    static std::string TickText(double value, bool logarithmic);

private:
    PlotAxis(double low, double high, bool log) : low_(low), high_(high), log_(log) {}
    double low_;
    double high_;
    bool log_;
};

} // namespace vntr::gui
