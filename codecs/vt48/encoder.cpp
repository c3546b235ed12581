#include "encoder.hpp"

#include "excitation.hpp"
#include "kernels.hpp"
#include "weighting.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/vector.hpp>

#include <cstring>

namespace vntr::vt48 {

namespace {
constexpr int kInitialLag = 69;
constexpr float kWeighting = 0.9f; // the plain searches' weighted synthesis filter is 1/A(z/0.9)
constexpr float kRefinedWeightNumerator = 0.9f;
constexpr float kRefinedWeightDenominator = 0.6f;
// The joint gain search tries pitch gain levels this far from the adaptive search's.
constexpr int kGainReach = 15;
} // namespace

void InitEncoder(EncoderState &state, bool eightBit, uint32_t refinements) {
    state = {};
    state.eightBit = eightBit;
    state.refinements = refinements;
    state.simd = dsp::DetectSimd();
    state.weightNumerator = kRefinedWeightNumerator;
    state.weightDenominator = kRefinedWeightDenominator;
    state.previousLsf = InitialLsf();
    state.previousLag = kInitialLag;
    state.lagBefore = kInitialLag;
    FillAnalysisWindow(state.window);
}

namespace {

// The frame through the input filter, in place; the history keeps the raw input.
void EqualiseInput(float *history, float *frame, Simd simd) {
    constexpr int kKept = kInputFilterTaps - 1;
    float raw[kKept + kFrameLength];
    std::memcpy(raw, history, sizeof(float) * kKept);
    std::memcpy(raw + kKept, frame, sizeof(float) * kFrameLength);
    // Each output sums its taps from 0, tap 0 first; eight outputs at a time.
    FirFromRest<kInputFilterTaps>(raw + kKept, kInputFilter, frame, kFrameLength, simd);
    std::memcpy(history, raw + kFrameLength, sizeof(float) * kKept);
}

} // namespace

void PrepareFrame(EncoderState &state, const uint8_t *pcm) {
    float *frame = state.speech + kCarried;
    if (state.eightBit) {
        for (int n = 0; n < kFrameLength; ++n) frame[n] = static_cast<float>(pcm[n] * 256 - 32768);
    } else {
        for (int n = 0; n < kFrameLength; ++n) {
            frame[n] = static_cast<float>(static_cast<int16_t>(pcm[2 * n] | (pcm[2 * n + 1] << 8)));
        }
    }
    if ((state.refinements & kEqualisedInput) != 0) {
        EqualiseInput(state.inputHistory, frame, state.simd);
    } else {
        HighPass(state.highPass, frame, kFrameLength);
    }

    state.quiet = IsQuiet(state.speech);
    state.openLoopLag = OpenLoopPitchLowPassed(state.previousLowPassed, state.speech + kWindowStart, state.previousLag,
                                               state.lagBefore, state.nextLowPassed, nullptr, state.simd);
    state.lagBefore = state.previousLag;
    state.previousLag = state.openLoopLag;

    state.lsf = AnalyseEnvelope(state.speech, state.window, state.schur, nullptr, state.simd);
}

void AdvanceFrame(EncoderState &state) {
    std::memcpy(state.previousLowPassed, state.nextLowPassed, sizeof state.previousLowPassed);
    std::memmove(state.speech, state.speech + kFrameLength, kCarried * sizeof(float));
}

void CodeFrame(EncoderState &state, uint8_t *out, EncoderObserver *observer) {
    FrameParams &params = state.params;
    std::array<uint16_t, kOrder> lsfIndex;
    const Lsf quantised = QuantiseLsf(state.lsf, lsfIndex);
    for (int i = 0; i < kOrder; ++i) params.lsf(i) = lsfIndex[static_cast<std::size_t>(i)];
    SubframePredictors(state.previousLsf, quantised, state.lpc);
    state.previousLsf = quantised;

    const bool carried = (state.refinements & kCarriedWeighting) != 0;
    const bool sharpened = (state.refinements & kSharpenedSynthesis) != 0;
    int previousLag = 0;
    for (int s = 0; s < kSubframes; ++s) {
        const int length = kSubframeLength[s];
        const float *a = state.lpc[s];
        const float *x = state.speech + kCarried + kSubframeStart[s];

        float target[kOrder + kMaxSubframeLength];
        float h[kOrder + kMaxSubframeLength] = {};
        float impulse[kMaxSubframeLength] = {1.0f};
        if (carried) {
            // The weighted error W(z)(x - s) the subframe would leave with no
            // excitation, W(z) = A(z/g1)/A(z/g2), s the synthesis running on
            // from its memory; both filters continue from their memories.
            float numerator[kOrder], denominator[kOrder];
            dsp::BandwidthExpand(a, kOrder, state.weightNumerator, numerator);
            dsp::BandwidthExpand(a, kOrder, state.weightDenominator, denominator);
            // h: the impulse response of A(z/g1) / (A(z/g2) A(z)); it takes
            // the same filters as the target, so all four recursions run in one pass.
            const WeightingMemory memory{state.synthesis, state.speechError, state.weightedError};
            std::memcpy(target, state.weightedError, sizeof state.weightedError);
            Weighting<kOrder, kMaxSubframeLength>(x, a, numerator, denominator, memory, length, target + kOrder,
                                                  h + kOrder);
        } else {
            // The residual of the speech continued from the synthesised output,
            // through 1/A(z/0.9) from rest.
            float weighted[kOrder];
            dsp::BandwidthExpand(a, kOrder, kWeighting, weighted);
            float continued[kOrder + kMaxSubframeLength];
            std::memcpy(continued, state.synthesis, sizeof state.synthesis);
            std::memcpy(continued + kOrder, x, static_cast<std::size_t>(length) * sizeof(float));
            float residual[kMaxSubframeLength];
            dsp::FirFilter(continued + kOrder, a, kOrder, residual, length);
            std::memset(target, 0, sizeof(float) * kOrder);
            dsp::AllPoleFilter(residual, weighted, kOrder, target + kOrder, length);
            dsp::AllPoleFilter(impulse, weighted, kOrder, h + kOrder, length);
        }
        const float *t = target + kOrder;
        const float *response = h + kOrder;

        const LagRange range = s == 0 ? FirstSubframeLags(state.openLoopLag) : LaterSubframeLags(previousLag);
        float yv[kMaxSubframeLength];
        AdaptiveResult adaptive = SearchAdaptive(state.excitation, t, response, length, range, yv, state.simd);
        const int lag = adaptive.lag;
        float gp = PitchGainValue(adaptive.gainIndex);
        float v[kMaxSubframeLength];
        AdaptiveVector(state.excitation, lag, length, v);

        // What the sharpening adds from the smoothed history, through the weighted filter.
        float hp[kMaxSubframeLength] = {};
        float fixedResponse[kMaxSubframeLength];
        std::memcpy(fixedResponse, response, static_cast<std::size_t>(length) * sizeof(float));
        float t2[kMaxSubframeLength];
        if (sharpened) {
            float p[kMaxSubframeLength] = {};
            for (int n = 0; n < length && n < lag; ++n) p[n] = state.smoothed[kHistory - lag + n];
            FilterByResponse(response, p, length, hp, state.simd);
            const float beta = SharpeningFactor(gp);
            float q[kMaxSubframeLength], sv[kMaxSubframeLength];
            for (int n = 0; n < length; ++n) {
                q[n] = beta * hp[n];
                sv[n] = yv[n];
            }
            Sharpen(beta, lag, length, q);
            Sharpen(beta, lag, length, sv);
            Sharpen(beta, lag, length, fixedResponse);
            for (int n = 0; n < length; ++n) t2[n] = t[n] - q[n] - gp * sv[n];
        } else {
            float scaled[kMaxSubframeLength];
            for (int n = 0; n < length; ++n) scaled[n] = gp * v[n];
            float filtered[kMaxSubframeLength];
            FilterByResponse(response, scaled, length, filtered);
            for (int n = 0; n < length; ++n) t2[n] = t[n] - filtered[n];
        }

        FixedResult fixed = (state.refinements & kFullFixedSearch) != 0
                                ? SearchFixedFull(t2, fixedResponse, length, lag, state.quiet)
                                : SearchFixed(t2, fixedResponse, length, lag, state.quiet, state.simd);

        if ((state.refinements & kJointGains) != 0) {
            float unit[kMaxSubframeLength] = {};
            AddFixedContribution(fixed.code, 1.0f, lag, length, unit);
            float yc[kMaxSubframeLength];
            FilterSparseByResponse(response, unit, length, yc);
            const GainChoice gains =
                SearchGains(t, yv, yc, hp, lag, length, sharpened, adaptive.gainIndex, kGainReach, state.simd);
            adaptive.gainIndex = gains.pitchIndex;
            fixed.gainIndex = gains.codebookIndex;
            gp = PitchGainValue(gains.pitchIndex);
        }

        float u[kMaxSubframeLength];
        BuildExcitation(state.excitation, v, gp, fixed.code, CodebookGainValue(fixed.gainIndex), lag, length, u);
        // What the decoder synthesises: the excitation itself, or its sharpened form.
        float synthesised[kMaxSubframeLength];
        std::memcpy(synthesised, u, static_cast<std::size_t>(length) * sizeof(float));
        if (sharpened) SharpenPitch(state.smoothed, gp, lag, length, synthesised);
        float synthesis[kOrder + kMaxSubframeLength];
        std::memcpy(synthesis, state.synthesis, sizeof state.synthesis);
        dsp::AllPoleFilter(synthesised, a, kOrder, synthesis + kOrder, length);
        std::memcpy(state.synthesis, synthesis + length, sizeof state.synthesis);
        if (carried) {
            // Only the last outputs of h * synthesised are needed for the memory.
            const int first = length - kOrder;
            float y[kOrder];
            LastConvolution<kOrder, kMaxSubframeLength>(response, synthesised, length, y);
            for (int i = 0; i < kOrder; ++i) {
                state.weightedError[i] = t[first + i] - y[i];
                state.speechError[i] = x[first + i] - synthesis[length + i];
            }
        }

        params.lag(s) = static_cast<uint16_t>(s == 0 ? lag - kMinCodedLag : lag - previousLag + kLagDeltaOffset);
        params.pitchGain(s) = static_cast<uint16_t>(adaptive.gainIndex);
        params.codebook(s) = static_cast<uint16_t>(fixed.code);
        params.codebookGain(s) = static_cast<uint16_t>(fixed.gainIndex);
        previousLag = lag;
        if (observer != nullptr) observer->OnSubframe({s, t, response, adaptive, fixed, u});
    }
    PackFrame(params, out);
    AdvanceFrame(state);
}

} // namespace vntr::vt48
