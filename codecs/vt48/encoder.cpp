#include "encoder.hpp"

#include "excitation.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>

#include <cstring>

namespace vntr::vt48 {

namespace {
constexpr int kInitialLag = 69;
constexpr float kWeighting = 0.9f; // the weighted synthesis filter is 1/A(z/0.9)
} // namespace

void InitEncoder(EncoderState &state, bool eightBit) {
    state = {};
    state.eightBit = eightBit;
    state.previousLsf = InitialLsf();
    state.previousLag = kInitialLag;
    state.lagBefore = kInitialLag;
    FillAnalysisWindow(state.window);
}

void PrepareFrame(EncoderState &state, const uint8_t *pcm) {
    float *frame = state.speech + kCarried;
    if (state.eightBit) {
        for (int n = 0; n < kFrameLength; ++n) frame[n] = static_cast<float>(pcm[n] * 256 - 32768);
    } else {
        for (int n = 0; n < kFrameLength; ++n) {
            frame[n] = static_cast<float>(static_cast<int16_t>(pcm[2 * n] | (pcm[2 * n + 1] << 8)));
        }
    }
    HighPass(state.highPass, frame, kFrameLength);

    state.quiet = IsQuiet(state.speech);
    state.openLoopLag =
        OpenLoopPitch(state.previousFrame, state.speech + kWindowStart, state.previousLag, state.lagBefore);
    state.lagBefore = state.previousLag;
    state.previousLag = state.openLoopLag;

    state.lsf = AnalyseEnvelope(state.speech, state.window, state.schur);
}

void AdvanceFrame(EncoderState &state) {
    std::memcpy(state.previousFrame, state.speech + kWindowStart, sizeof state.previousFrame);
    std::memmove(state.speech, state.speech + kFrameLength, kCarried * sizeof(float));
}

void CodeFrame(EncoderState &state, uint8_t *out, EncoderObserver *observer) {
    FrameParams &params = state.params;
    std::array<uint16_t, kOrder> lsfIndex;
    const Lsf quantised = QuantiseLsf(state.lsf, lsfIndex);
    for (int i = 0; i < kOrder; ++i) params.lsf(i) = lsfIndex[static_cast<std::size_t>(i)];
    SubframePredictors(state.previousLsf, quantised, state.lpc);
    state.previousLsf = quantised;

    int previousLag = 0;
    for (int s = 0; s < kSubframes; ++s) {
        const int length = kSubframeLength[s];
        const float *a = state.lpc[s];
        const float *x = state.speech + kCarried + kSubframeStart[s];

        // The residual of the speech continued from the synthesised output.
        float continued[kOrder + kMaxSubframeLength];
        std::memcpy(continued, state.synthesis, sizeof state.synthesis);
        std::memcpy(continued + kOrder, x, static_cast<std::size_t>(length) * sizeof(float));
        float residual[kMaxSubframeLength];
        dsp::FirFilter(continued + kOrder, a, kOrder, residual, length);

        // Weighted target and the impulse response of 1/A(z/0.9), both from rest.
        float weighted[kOrder];
        dsp::BandwidthExpand(a, kOrder, kWeighting, weighted);
        float target[kOrder + kMaxSubframeLength] = {};
        dsp::AllPoleFilter(residual, weighted, kOrder, target + kOrder, length);
        float h[kOrder + kMaxSubframeLength] = {};
        float impulse[kMaxSubframeLength] = {1.0f};
        dsp::AllPoleFilter(impulse, weighted, kOrder, h + kOrder, length);
        const float *t = target + kOrder;
        const float *response = h + kOrder;

        const LagRange range = s == 0 ? FirstSubframeLags(state.openLoopLag) : LaterSubframeLags(previousLag);
        const AdaptiveResult adaptive = SearchAdaptive(state.excitation, t, response, length, range);
        const float gp = PitchGainValue(adaptive.gainIndex);
        float v[kMaxSubframeLength];
        AdaptiveVector(state.excitation, adaptive.lag, length, v);
        float scaled[kMaxSubframeLength];
        for (int n = 0; n < length; ++n) scaled[n] = gp * v[n];
        float filtered[kMaxSubframeLength];
        FilterByResponse(response, scaled, length, filtered);
        float t2[kMaxSubframeLength];
        for (int n = 0; n < length; ++n) t2[n] = t[n] - filtered[n];

        const FixedResult fixed = SearchFixed(t2, response, length, adaptive.lag, state.quiet);

        float u[kMaxSubframeLength];
        BuildExcitation(state.excitation, v, gp, fixed.code, CodebookGainValue(fixed.gainIndex), adaptive.lag,
                        length, u);
        float synthesis[kOrder + kMaxSubframeLength];
        std::memcpy(synthesis, state.synthesis, sizeof state.synthesis);
        dsp::AllPoleFilter(u, a, kOrder, synthesis + kOrder, length);
        std::memcpy(state.synthesis, synthesis + length, sizeof state.synthesis);

        params.lag(s) = static_cast<uint16_t>(s == 0 ? adaptive.lag - kMinCodedLag
                                                     : adaptive.lag - previousLag + kLagDeltaOffset);
        params.pitchGain(s) = static_cast<uint16_t>(adaptive.gainIndex);
        params.codebook(s) = static_cast<uint16_t>(fixed.code);
        params.codebookGain(s) = static_cast<uint16_t>(fixed.gainIndex);
        previousLag = adaptive.lag;
        if (observer != nullptr) observer->OnSubframe({s, t, response, adaptive, fixed, u});
    }
    PackFrame(params, out);
    AdvanceFrame(state);
}

} // namespace vntr::vt48
