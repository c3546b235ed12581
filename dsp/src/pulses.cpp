#include <vntr/dsp/pulses.hpp>
#include <vntr/dsp/vector.hpp>

#include <cmath>

namespace vntr::dsp {

void BackwardFilter(const float *x, const float *h, int length, float *d) {
    // Gathered target sample by target sample over the reversed response.
    float reversed[kMaxPulseSubframe];
    for (int n = 0; n < length; ++n) reversed[n] = h[length - 1 - n];
    for (int n = 0; n < length; ++n) d[n] = 0.0f;
    for (int i = 0; i < length; ++i) Axpy(x[i], reversed + length - 1 - i, d, i + 1);
}

int QuantiseAmplitude(const float *target, const float *f, int length, const float *levels, int count) {
    float k = 0.0f;
    float e = 0.0f;
    for (int n = 0; n < length; ++n) {
        k += target[n] * f[n];
        e += f[n] * f[n];
    }
    if (!(k > 0.0f) || !(e > 0.0f)) return 0;
    const float gain = k / e;
    int index = 0;
    float bestDiff = std::fabs(levels[0] - gain);
    for (int i = 1; i < count; ++i) {
        const float diff = std::fabs(levels[i] - gain);
        if (diff < bestDiff) {
            bestDiff = diff;
            index = i;
        }
    }
    return index;
}

} // namespace vntr::dsp
