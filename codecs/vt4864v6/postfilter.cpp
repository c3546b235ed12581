#include "postfilter.hpp"

#include "tables.hpp"

namespace vntr::vt4864v6 {

const dsp::PostFilterConfig kPostFilterConfig{{kInterp4, kInterp16}, 30, dsp::PitchGateEdges::EnergyInclusive};

void PitchPostFilter(const float *r, int lag, int length, float *out) {
    dsp::PitchPostFilter(r, lag, length, kPostFilterConfig, out);
}

void PostFilter(PostFilterState &state, const float *speech, const int *lags, const float (*lpc)[kOrder],
                const RateMode &mode, float *out) {
    const int length = mode.subframeLength;
    for (int k = 0; k < mode.subframes; ++k) {
        dsp::PostFilterSubframe(state, speech + k * length, lags[k], lpc[k], length, kPostFilterConfig,
                                out + k * length);
    }
}

int16_t OutputSample(float x) {
    if (x > 32767.0f) return 32767;
    if (x < -32767.0f) return -32768;
    if (x != x) return 0;
    return static_cast<int16_t>(x); // truncation toward zero
}

} // namespace vntr::vt4864v6
