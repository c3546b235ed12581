#include "excitation.hpp"

#include "tables.hpp"

#include <cstring>

namespace vntr::vt48 {

void AdaptiveVector(const float *history, int lag, int length, float *out) {
    const float *from = history + kHistory - lag;
    if (lag >= length) {
        std::memcpy(out, from, static_cast<std::size_t>(length) * sizeof(float));
        return;
    }
    for (int n = 0; n < lag; ++n) out[n] = from[n];
    for (int n = lag; n < length; ++n) out[n] = out[n - lag];
}

int PulseSigns(int code, int8_t *signs) {
    const bool eight = code >= kEightPulseBase;
    const int count = eight ? kEightPulses : kSevenPulses;
    const int bits = code - (eight ? kEightPulseBase : kSevenPulseBase);
    signs[0] = 1;
    for (int j = 1; j < count; ++j) signs[j] = ((bits >> (count - 1 - j)) & 1) != 0 ? 1 : -1;
    return count;
}

void AddFixedContribution(int code, float gain, int lag, int length, float *e) {
    if (code < kPulseTrainCodes) {
        const float amplitude = kPulseTrainScale * gain;
        for (int n = code; n < length; n += lag) e[n] += amplitude;
        return;
    }
    int8_t signs[kEightPulses];
    const int count = PulseSigns(code, signs);
    const int first = count == kEightPulses ? kEightPulseFirst : kSevenPulseFirst;
    const int spacing = count == kEightPulses ? kEightPulseSpacing : kSevenPulseSpacing;
    for (int j = 0; j < count; ++j) e[first + j * spacing] += signs[j] > 0 ? gain : -gain;
}

void AppendHistory(float *history, const float *e, int length) {
    std::memmove(history, history + length, static_cast<std::size_t>(kHistory - length) * sizeof(float));
    std::memcpy(history + kHistory - length, e, static_cast<std::size_t>(length) * sizeof(float));
}

void BuildExcitation(float *history, const float *v, float gp, int code, float gc, int lag, int length, float *e) {
    for (int n = 0; n < length; ++n) e[n] = gp * v[n];
    AddFixedContribution(code, gc, lag, length, e);
    for (int n = 0; n < length; ++n) {
        if (e[n] > kExcitationLimit)
            e[n] = kExcitationLimit;
        else if (e[n] < -kExcitationLimit)
            e[n] = -kExcitationLimit;
    }
    AppendHistory(history, e, length);
}

void SharpenPitch(float *smoothed, float gp, int lag, int length, float *e) {
    const float held = gp > 1.0f ? 1.0f : (gp < -1.0f ? -1.0f : gp);
    const float beta = 0.35f * held;
    const float *from = smoothed + kHistory - lag;
    for (int n = 0; n < length; ++n) e[n] += beta * (n < lag ? from[n] : e[n - lag]);
    AppendHistory(smoothed, e, length);
}

} // namespace vntr::vt48
