#include "excitation.hpp"

#include "bitstream.hpp"

#include <cstring>

namespace vntr::vt120 {

void AdaptiveVector(const float *history, int lag, int entry, float *v, const dsp::PredictorCodebook &codebook,
                    Simd simd) {
    dsp::BuildPitchExcitation(history + kExcitationHistory, lag, entry, kSubframeLength, codebook, v, simd);
}

float AmplitudeOf(int amplitudeField) {
    return kAmplitude[amplitudeField & (kAmplitudeLevels - 1)];
}

void AddPulses(float *x, int positionWord, int signs, float amplitude) {
    int positions[kPulses];
    PulsePositions(positionWord, positions);
    for (int j = 0; j < kPulses; ++j) x[positions[j]] += ((signs >> j) & 1) ? amplitude : -amplitude;
}

void ConvolveSubframe(const float *h, const float *x, float *y) {
    alignas(16) float padded[2 * kSubframeLength] = {};
    std::memcpy(padded + kSubframeLength, x, sizeof(float) * kSubframeLength);
    alignas(16) float acc[kSubframeLength] = {};
    for (int i = 0; i < kSubframeLength; ++i) {
        const float *from = padded + kSubframeLength - i;
        for (int n = 0; n < kSubframeLength; ++n) acc[n] += h[i] * from[n];
    }
    std::memcpy(y, acc, sizeof acc);
}

void PushExcitation(float *history, const float *x) {
    std::memmove(history, history + kSubframeLength, sizeof(float) * (kExcitationHistory - kSubframeLength));
    std::memcpy(history + kExcitationHistory - kSubframeLength, x, sizeof(float) * kSubframeLength);
}

} // namespace vntr::vt120
