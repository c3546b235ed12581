#include "excitation.hpp"

#include "tables.hpp"

#include <cstring>

namespace vntr::vt4864v6 {

void BuildExtendedVector(const float *past, int lag, int length, float *v) {
    v[0] = past[145 - lag];
    v[1] = past[146 - lag];
    const float *period = past + kPastExcitation - lag;
    int phase = 0;
    for (int m = 0; m < length + 2; ++m) {
        v[2 + m] = period[phase];
        if (++phase == lag) phase = 0;
    }
}

void BuildPitchExcitation(const float *past, int lag, int entry, int length, float *e,
                          const PredictorCodebook &codebook) {
    float v[kMaxSubframeLength + 4];
    BuildExtendedVector(past, lag, length, v);
    const double *b = codebook.taps[entry & (kPredictorEntries - 1)];
    for (int n = 0; n < length; ++n) {
        double acc = 0.0;
        for (int j = 0; j < kPredictorTaps; ++j) acc += b[j] * v[n + j];
        e[n] = static_cast<float>(acc);
    }
}

void PulsePositions(uint32_t positionWord, const RateMode &mode, int positions[kPulses]) {
    const int length = mode.subframeLength;
    const uint32_t gridMask = static_cast<uint32_t>(mode.grid - 1);
    int p = static_cast<int>(positionWord & gridMask) * length / mode.grid;
    positions[0] = p;
    uint32_t fields = positionWord >> mode.GridBits();
    for (int i = 1; i < kPulses; ++i) {
        p = (p + mode.steps[i - 1][fields & 3u]) % length;
        positions[i] = p;
        fields >>= 2;
    }
}

void AddPulses(float *e, uint32_t signsWord, uint32_t positionWord, int gainIndex, const RateMode &mode) {
    int positions[kPulses];
    PulsePositions(positionWord, mode, positions);
    const float gain = kPulseGain[gainIndex & 31];
    for (int i = 0; i < kPulses; ++i) e[positions[i]] += ((signsWord >> i) & 1u) ? gain : -gain;
}

void LimitExcitation(float *e, int length) {
    for (int n = 0; n < length; ++n) {
        if (e[n] > kExcitationLimit) e[n] = kExcitationLimit;
        else if (e[n] < -kExcitationLimit) e[n] = -kExcitationLimit;
        else if (e[n] != e[n]) e[n] = 0.0f;
    }
}

void UpdatePastExcitation(float *past, const float *e, int length) {
    std::memmove(past, past + length, sizeof(float) * (kPastExcitation - length));
    std::memcpy(past + kPastExcitation - length, e, sizeof(float) * length);
}

} // namespace vntr::vt4864v6
