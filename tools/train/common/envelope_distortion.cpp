#include "envelope_distortion.hpp"

#include <cmath>
#include <numbers>

namespace vntr::train {

double EnvelopeDistortion(const float *a, const float *b, int order, int bins) {
    double sum = 0.0;
    for (int k = 0; k < bins; ++k) {
        const double w = std::numbers::pi * (k + 0.5) / bins;
        // z^-i by repeated multiplication with e^-jw.
        const double cw = std::cos(w), sw = -std::sin(w);
        double c = 1.0, s = 0.0;
        double ra = 1.0, ia = 0.0, rb = 1.0, ib = 0.0;
        for (int i = 0; i < order; ++i) {
            const double nc = c * cw - s * sw;
            s = c * sw + s * cw;
            c = nc;
            ra += a[i] * c;
            ia += a[i] * s;
            rb += b[i] * c;
            ib += b[i] * s;
        }
        const double d = 10.0 * std::log10((rb * rb + ib * ib) / (ra * ra + ia * ia));
        sum += d * d;
    }
    return std::sqrt(sum / bins);
}

} // namespace vntr::train
