#include "decoder.hpp"

#include "bitstream.hpp"
#include "excitation.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/random.hpp>

#include <cmath>
#include <cstring>

namespace vntr::vt4864v6 {

void InitDecoder(DecoderState &state) {
    state = DecoderState{};
    state.previousLsp = InitialLsp();
    ResetPostFilter(state.post);
    state.ditherState = 0x2545F491u;
}

namespace {

bool Finite(const float *x, int length) {
    float sum = 0.0f;
    for (int n = 0; n < length; ++n) sum += x[n] * 0.0f;
    return sum == 0.0f; // 0 * inf and 0 * nan are nan
}

} // namespace

void DecodeFrame(DecoderState &state, const uint8_t *coded, int16_t *pcm, bool dither) {
    const RateMode &mode = FrameRate(coded);
    const int length = mode.subframeLength;
    state.rateCode = mode.rateCode;
    std::memcpy(state.coded, coded, static_cast<std::size_t>(mode.codedBytes));
    state.params = UnpackFrame(state.coded, mode);
    RebuildLags(state.params, mode, state.lags);

    Lsp lsp = RebuildLsp({state.params[0], state.params[1], state.params[2]}, state.previousLsp);
    StabiliseLsp(lsp, state.previousLsp);
    InterpolateLsp(lsp, state.previousLsp, mode.subframes, state.lpc);
    state.previousLsp = lsp;

    for (int k = 0; k < mode.subframes; ++k) {
        float *e = state.excitation + k * length;
        const uint16_t gainWord = state.params[static_cast<std::size_t>(mode.GainWord(k))];
        BuildPitchExcitation(state.past, state.lags[k], gainWord & 127, length, e);
        AddPulses(e, state.params[static_cast<std::size_t>(mode.SignsWord(k))],
                  state.params[static_cast<std::size_t>(mode.PositionsWord(k))], gainWord >> 7, mode);
        if (dither) {
            for (int n = 0; n < length; ++n) {
                const int r = dsp::NextRandom15(state.ditherState);
                e[n] += static_cast<float>(r - 16384) / 32768.0f * 0.3f;
            }
        }
        LimitExcitation(e, length);
        UpdatePastExcitation(state.past, e, length);
    }

    float y[kOrder + kFrameLength];
    std::memcpy(y, state.synthesis, sizeof state.synthesis);
    for (int k = 0; k < mode.subframes; ++k) {
        dsp::AllPoleFilter(state.excitation + k * length, state.lpc[k], kOrder, y + kOrder + k * length, length);
    }
    std::memcpy(state.synthesis, y + kFrameLength, sizeof state.synthesis);
    std::memcpy(state.speech, y + kOrder, sizeof state.speech);

    PostFilter(state.post, state.speech, state.lags, state.lpc, mode, state.output);

    // The filters are stable and the excitation bounded, so this never trips
    // on any stream; if arithmetic ever overflowed, the signal state restarts
    // instead of staying silent for good.
    if (!Finite(state.output, kFrameLength) || !Finite(state.synthesis, kOrder) ||
        !Finite(state.post.formant, kOrder) || !std::isfinite(state.post.gain)) {
        std::memset(state.past, 0, sizeof state.past);
        std::memset(state.synthesis, 0, sizeof state.synthesis);
        ResetPostFilter(state.post);
    }
    for (int n = 0; n < kFrameLength; ++n) state.pcm[n] = OutputSample(state.output[n]);
    std::memcpy(pcm, state.pcm, sizeof state.pcm);
}

} // namespace vntr::vt4864v6
