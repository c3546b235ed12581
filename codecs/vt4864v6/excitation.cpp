#include "excitation.hpp"

#include "tables.hpp"

#include <cstring>

namespace vntr::vt4864v6 {

void BuildExtendedVector(const float *past, int lag, int length, float *v) {
    dsp::BuildExtendedVector(past + kPastExcitation, lag, length, v);
}

void BuildPitchExcitation(const float *past, int lag, int entry, int length, float *e,
                          const PredictorCodebook &codebook) {
    dsp::BuildPitchExcitation(past + kPastExcitation, lag, entry, length, codebook, e);
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

void UpdatePastExcitation(float *past, const float *e, int length) {
    std::memmove(past, past + length, sizeof(float) * (kPastExcitation - length));
    std::memcpy(past + kPastExcitation - length, e, sizeof(float) * length);
}

} // namespace vntr::vt4864v6
