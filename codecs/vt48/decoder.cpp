#include "decoder.hpp"

#include "excitation.hpp"
#include "tables.hpp"

#include <vntr/dsp/filters.hpp>

#include <cstring>

namespace vntr::vt48 {

void InitDecoder(DecoderState &state) {
    state = {};
    state.previousLsf = InitialLsf();
}

int16_t ToPcm16(float z) {
    if (z >= -32767.0f && z <= 32767.0f) return static_cast<int16_t>(z);
    return z > 0.0f ? int16_t{32767} : int16_t{-32768}; // (a NaN, which bounded states never make, gives -32768)
}

namespace {

// z = B(z)/A'(z) y, sample by sample.
float OutputFilter(DecoderState &state, float y) {
    const float *b = kOutputB;
    const float *a = kOutputA;
    float *xi = state.outputIn;
    float *zo = state.outputOut;
    const float z = b[0] * y + b[1] * xi[0] + b[2] * xi[1] + b[3] * xi[2] + b[4] * xi[3] -
                    (a[0] * zo[0] + a[1] * zo[1] + a[2] * zo[2] + a[3] * zo[3]);
    xi[3] = xi[2];
    xi[2] = xi[1];
    xi[1] = xi[0];
    xi[0] = y;
    zo[3] = zo[2];
    zo[2] = zo[1];
    zo[1] = zo[0];
    zo[0] = z;
    return z;
}

} // namespace

void DecodeFrame(DecoderState &state, const uint8_t *coded, int16_t *pcm) {
    state.params = UnpackFrame(coded);
    const FrameParams &p = state.params;
    DecodeLags(p, state.lags);

    std::array<uint16_t, kOrder> lsfIndex;
    for (int i = 0; i < kOrder; ++i) lsfIndex[static_cast<std::size_t>(i)] = p.lsf(i);
    Lsf lsf = DecodeLsf(lsfIndex);
    // A set out of order repeats the previous envelope.
    if (!IsOrdered(lsf)) lsf = state.previousLsf;
    SubframePredictors(state.previousLsf, lsf, state.lpc);
    state.previousLsf = lsf;

    float synthesis[kOrder + kMaxSubframeLength];
    std::memcpy(synthesis, state.synthesis, sizeof state.synthesis);
    for (int s = 0; s < kSubframes; ++s) {
        const int length = kSubframeLength[s];
        const int lag = state.lags[s];
        const float gp = PitchGainValue(p.pitchGain(s));
        float v[kMaxSubframeLength];
        float e[kMaxSubframeLength];
        AdaptiveVector(state.excitation, lag, length, v);
        BuildExcitation(state.excitation, v, gp, p.codebook(s), CodebookGainValue(p.codebookGain(s)), lag, length, e);
        SharpenPitch(state.smoothed, gp, lag, length, e);
        dsp::AllPoleFilter(e, state.lpc[s], kOrder, synthesis + kOrder, length);
        for (int n = 0; n < length; ++n) {
            pcm[kSubframeStart[s] + n] = ToPcm16(OutputFilter(state, synthesis[kOrder + n]));
        }
        std::memmove(synthesis, synthesis + length, kOrder * sizeof(float));
    }
    std::memcpy(state.synthesis, synthesis, sizeof state.synthesis);
}

} // namespace vntr::vt48
