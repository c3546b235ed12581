#include "encoder.hpp"

#include "excitation.hpp"
#include "pitch_views.hpp"
#include "pulse_search.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/pulses.hpp>
#include <vntr/dsp/vector.hpp>

#include <cstring>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::vt120 {

EncoderTuning TunedEncoder() {
    EncoderTuning t;
    t.lagReach = 2;
    t.allLagSteps = true;
    t.pitchFinalists = 4;
    t.pitchMargin = 0.3f;
    t.pulseSeedReach = 1.5f;
    return t;
}

void InitEncoder(EncoderState &state, const EncoderTuning &tuning) {
    state = EncoderState{};
    state.previousLsp = InitialLsp();
    state.simd = dsp::DetectSimd();
    state.tuning = tuning;
}

namespace {

// The input's high-pass: second order, a double zero at 0 Hz and poles of
// radius 0.9674 at 54 Hz.  It is 3 dB down at 61 Hz, 23 dB at 20 Hz, and
// passes speech at a gain of 0.97 (-0.25 dB).  Not a Butterworth design (that
// would put the second pole coefficient at 0.93524), so dsp/butterworth cannot
// make it; the coefficients stay as written (the reference vectors hold the
// encoder to them).
//   y[n] = b0 x[n] + b1 x[n-1] + b0 x[n-2] + a1 y[n-1] + a2 y[n-2]
constexpr float kPreFilterB0 = 0.939806f;
constexpr float kPreFilterB1 = -1.879583f;
constexpr float kPreFilterA1 = 1.933074f;
constexpr float kPreFilterA2 = -0.935892f;

void PreFilter(PreFilterState &st, float *x, int length) {
    for (int n = 0; n < length; ++n) {
        const float y = kPreFilterB0 * x[n] + kPreFilterB1 * st.x1 + kPreFilterB0 * st.x2 + kPreFilterA1 * st.y1 +
                        kPreFilterA2 * st.y2;
        st.x2 = st.x1;
        st.x1 = x[n];
        st.y2 = st.y1;
        st.y1 = y;
        x[n] = y;
    }
}

// W(z) = A(z/0.9) / A(z/0.5) of one unquantised set.
struct Weighting {
    float num[kOrder];
    float den[kOrder];
    explicit Weighting(const float *lpc) {
        dsp::BandwidthExpand(lpc, kOrder, 0.9f, num);
        dsp::BandwidthExpand(lpc, kOrder, 0.5f, den);
    }
};

// Weights the coded sub-frames of the speech buffer into the weighted-speech
// buffer, then finds the open-loop lag and each sub-frame's harmonic shaping.
void WeightFrame(EncoderState &state) {
    std::memmove(state.weighted, state.weighted + kFrameLength, sizeof(float) * kWeightedHistory);
    for (int k = 0; k < kSubframes; ++k) {
        const Weighting w(state.lpc[k]);
        float in[kOrder + kSubframeLength];
        std::memcpy(in, state.weightingInput, sizeof state.weightingInput);
        std::memcpy(in + kOrder, state.buffer + kCodedStart + k * kSubframeLength, sizeof(float) * kSubframeLength);
        float out[kOrder + kSubframeLength];
        std::memcpy(out, state.weightingOutput, sizeof state.weightingOutput);
        dsp::FirFilter(in + kOrder, w.num, kOrder, out + kOrder, kSubframeLength);
        dsp::AllPoleFilter(out + kOrder, w.den, kOrder, out + kOrder, kSubframeLength);
        std::memcpy(state.weightingInput, in + kSubframeLength, sizeof state.weightingInput);
        std::memcpy(state.weightingOutput, out + kSubframeLength, sizeof state.weightingOutput);
        std::memcpy(state.weighted + kWeightedHistory + k * kSubframeLength, out + kOrder,
                    sizeof(float) * kSubframeLength);
    }
    const float *frame = state.weighted + kWeightedHistory;
    state.openLoopLag = dsp::OpenLoopPitch(frame, kFrameLength, kMinLag, kOpenLoopMaxLag, state.simd);
    for (int k = 0; k < kSubframes; ++k) {
        state.shaping[k] = dsp::HarmonicNoiseWeighting(frame + k * kSubframeLength, kSubframeLength, state.openLoopLag,
                                                       state.shaped + k * kSubframeLength);
    }
}

// The cascade 1/A^(z) W(z) (1 - g z^-L) of one sub-frame.
struct Cascade {
    const float *quantised;
    Weighting weighting;
    dsp::HarmonicWeighting shaping;

    // Runs x through the cascade from the state's memories; writes the
    // synthesis and the weighted synthesis behind their histories and the
    // shaped output.
    //   syn [kOrder + L], ws [kShapingHistory + L], out [L]
    void Run(const EncoderState &state, const float *x, float *syn, float *ws, float *out) const {
        std::memcpy(syn, state.synthesis, sizeof state.synthesis);
        dsp::AllPoleFilter(x, quantised, kOrder, syn + kOrder, kSubframeLength);
        std::memcpy(ws, state.weightedSynthesis, sizeof state.weightedSynthesis);
        float *cur = ws + kShapingHistory;
        dsp::FirFilter(syn + kOrder, weighting.num, kOrder, cur, kSubframeLength);
        dsp::AllPoleFilter(cur, weighting.den, kOrder, cur, kSubframeLength);
        for (int n = 0; n < kSubframeLength; ++n) {
            out[n] = shaping.lag >= 0 ? cur[n] - shaping.gain * cur[n - shaping.lag] : cur[n];
        }
    }

    // The impulse response from rest (h) and the response to no input from
    // the state's memories (out, as Run gives it): the same filters on two
    // signals, their recursions side by side.
    void ImpulseAndZeroInput(const EncoderState &state, float *h, float *out) const {
        float synH[kOrder + kSubframeLength] = {};
        float syn[kOrder + kSubframeLength];
        std::memcpy(syn, state.synthesis, sizeof state.synthesis);
        const float impulse[kSubframeLength] = {1.0f};
        const float zero[kSubframeLength] = {};
        dsp::AllPolePair<kOrder>(impulse, synH + kOrder, zero, syn + kOrder, quantised, kSubframeLength);
        float w[kOrder + kSubframeLength] = {};
        float ws[kShapingHistory + kSubframeLength];
        std::memcpy(ws, state.weightedSynthesis, sizeof state.weightedSynthesis);
        float *cur = ws + kShapingHistory;
        dsp::FirFilter(synH + kOrder, weighting.num, kOrder, w + kOrder, kSubframeLength);
        dsp::FirFilter(syn + kOrder, weighting.num, kOrder, cur, kSubframeLength);
        dsp::AllPolePair<kOrder>(w + kOrder, w + kOrder, cur, cur, weighting.den, kSubframeLength);
        for (int n = 0; n < kSubframeLength; ++n) {
            h[n] = w[kOrder + n];
            if (shaping.lag >= 0 && n >= shaping.lag) h[n] -= shaping.gain * w[kOrder + n - shaping.lag];
            out[n] = shaping.lag >= 0 ? cur[n] - shaping.gain * cur[n - shaping.lag] : cur[n];
        }
    }
};

// A (lag, entry) pair of the pitch search and its score (half the drop in
// squared error its prediction brings).
struct PitchPair {
    int lag;
    int entry;
    float score;
};

// The `keep` best pairs over the lags lo..hi (inside 18..145) and every
// predictor entry, best first; a pair displaces a kept one only when
// strictly better.  Returns how many were found.
int BestPitchPairs(const float *history, const float *h, const float *target, int lo, int hi,
                   const dsp::PredictorCodebook &codebook, Simd simd, int keep, PitchPair *pairs) {
    int count = 0;
    for (int group = lo; group <= hi; group += kPitchCandidates) {
        const int first = group > kMaxLag - 2 ? kMaxLag - 2 : group;
        dsp::PredictorStatistics stats[kPitchCandidates];
        CandidateStatistics(history, h, target, first, stats, simd);
        for (int c = 0; c < kPitchCandidates; ++c) {
            const int lag = first + c;
            if (lag < group || lag > hi) continue;
            alignas(16) float scores[dsp::kPredictorEntries];
            dsp::PredictorScores(stats[c], codebook, scores);
            for (int e0 = 0; e0 < dsp::kPredictorEntries; e0 += 4) {
                // Four entries at a time against the last kept score: once
                // the list is full, most blocks hold nothing that enters it.
                unsigned open = 0xfu;
                if (count == keep) {
#if defined(VNTR_SIMD_SSE2)
                    const __m128 last = _mm_set1_ps(pairs[keep - 1].score);
                    open = static_cast<unsigned>(_mm_movemask_ps(_mm_cmpgt_ps(_mm_load_ps(scores + e0), last)));
#else
                    open = 0;
                    for (int j = 0; j < 4; ++j) open |= (scores[e0 + j] > pairs[keep - 1].score ? 1u : 0u) << j;
#endif
                }
                for (; open != 0; open &= open - 1) {
                    const int e = e0 + __builtin_ctz(open);
                    const float score = scores[e];
                    if (count == keep && !(score > pairs[keep - 1].score)) continue;
                    int at = count < keep ? count : keep - 1;
                    while (at > 0 && pairs[at - 1].score < score) {
                        pairs[at] = pairs[at - 1];
                        --at;
                    }
                    pairs[at] = PitchPair{lag, e, score};
                    if (count < keep) ++count;
                }
            }
        }
    }
    return count;
}

// The lags a sub-frame may take: sub-frame 0 around the open-loop lag,
// sub-frame 1 what its code reaches from lag0 (DecodeLags), kept in 18..145.
void LagRange(const EncoderState &state, int k, int &lo, int &hi) {
    const EncoderTuning &t = state.tuning;
    if (k == 0) {
        lo = state.openLoopLag - t.lagReach;
        hi = state.openLoopLag + t.lagReach;
    } else {
        const int lag0 = state.lags[0];
        if (!t.allLagSteps) {
            const int c = ClampPitchCentre(lag0);
            lo = c - 1;
            hi = c + 1;
        } else if (lag0 <= kMinLag + 1) {
            lo = kMinLag;
            hi = kMinLag + 3;
        } else if (lag0 == kMaxLag) {
            lo = kMaxLag - 2;
            hi = kMaxLag;
        } else {
            lo = lag0 - 2;
            hi = lag0 + 1;
        }
    }
    if (lo < kMinLag) lo = kMinLag;
    if (hi > kMaxLag) hi = kMaxLag;
    if (hi - lo < kPitchCandidates - 1) {
        // At the ends of the range, still three lags (as the described search).
        if (lo == kMinLag)
            hi = kMinLag + kPitchCandidates - 1;
        else
            lo = kMaxLag - kPitchCandidates + 1;
    }
}

void CodeSubframe(EncoderState &state, int k, EncoderObserver *observer) {
    const dsp::PredictorCodebook &codebook = state.predictor ? *state.predictor : kPredictorCodebook;
    const Cascade cascade{state.quantisedLpc[k], Weighting(state.lpc[k]), state.shaping[k]};
    // The impulse response, and the target: the shaped weighted speech less
    // the cascade's zero-input response.
    float h[kSubframeLength];
    float target[kSubframeLength];
    {
        float response[kSubframeLength];
        cascade.ImpulseAndZeroInput(state, h, response);
        const float *base = state.shaped + k * kSubframeLength;
        for (int n = 0; n < kSubframeLength; ++n) target[n] = base[n] - response[n];
    }

    PitchChoice pitch{};
    float *x = state.excitation + k * kSubframeLength;
    PulseChoice pulses{};
    int amplitude = 0;
    const EncoderTuning &tuning = state.tuning;
    if (tuning.lagReach == 1 && !tuning.allLagSteps && tuning.pitchFinalists == 1) {
        // Closed-loop pitch around the open-loop lag, or sub-frame 0's lag.
        const int centre = k == 0 ? state.openLoopLag : state.lags[0];
        pitch = SearchPitch(state.history, h, target, centre, codebook, state.simd);
        AdaptiveVector(state.history, pitch.lag, pitch.entry, x, codebook, state.simd);

        // Pulses on what the pitch prediction leaves.
        float predicted[kSubframeLength];
        ConvolveSubframe(h, x, predicted);
        float x2[kSubframeLength];
        for (int n = 0; n < kSubframeLength; ++n) x2[n] = target[n] - predicted[n];
        pulses = SearchPulses(x2, h, state.simd);
        float z[kSubframeLength];
        FilterPulses(pulses, h, z);
        amplitude = dsp::QuantiseAmplitude(x2, z, kSubframeLength, kAmplitude, kAmplitudeLevels);
    } else {
        // The best pairs over the wider lag range, each completed by its
        // pulses and amplitude; the pair whose whole excitation leaves the
        // least weighted error wins (the first of equals).
        int lo = 0;
        int hi = 0;
        LagRange(state, k, lo, hi);
        PitchPair pairs[kMaxPitchFinalists];
        const int count =
            BestPitchPairs(state.history, h, target, lo, hi, codebook, state.simd, tuning.pitchFinalists, pairs);
        float bestError = 3e38f;
        for (int i = 0; i < count; ++i) {
            if (i > 0 && pairs[0].score - pairs[i].score > tuning.pitchMargin * pairs[0].score) break;
            float v[kSubframeLength];
            AdaptiveVector(state.history, pairs[i].lag, pairs[i].entry, v, codebook, state.simd);
            float predicted[kSubframeLength];
            ConvolveSubframe(h, v, predicted);
            float x2[kSubframeLength];
            for (int n = 0; n < kSubframeLength; ++n) x2[n] = target[n] - predicted[n];
            // A later pair need only be searched for sets that could leave
            // less than the best error so far: with its best unquantised
            // amplitude a set takes (sum |d|)^2 / energy off |x2|^2, and the
            // quantised amplitude takes no more.
            PulseChoice p{};
            const float floor = i == 0 ? 0.0f : dsp::Dot(x2, x2, kSubframeLength) - bestError;
            const float reach = i == 0 || tuning.pulseSeedReach <= 0.0f ? 3e38f : tuning.pulseSeedReach;
            if (!SearchPulsesAbove(x2, h, floor > 0.0f ? floor : 0.0f, state.simd, p, reach)) {
                if (floor > 0.0f) continue;
                p = SearchPulses(x2, h, state.simd); // nothing scores above 0: the first set
            }
            float z[kSubframeLength];
            FilterPulses(p, h, z);
            const int a = dsp::QuantiseAmplitude(x2, z, kSubframeLength, kAmplitude, kAmplitudeLevels);
            const float level = AmplitudeOf(a);
            float error = 0.0f;
            for (int n = 0; n < kSubframeLength; ++n) {
                const float r = x2[n] - level * z[n];
                error += r * r;
            }
            if (i == 0 || error < bestError) {
                bestError = error;
                pitch.lag = pairs[i].lag;
                pitch.entry = pairs[i].entry;
                pulses = p;
                amplitude = a;
                std::memcpy(x, v, sizeof v);
            }
        }
    }
    state.lags[k] = pitch.lag;
    const int lagCode = k == 0 ? pitch.lag - kMinLag : LagDifferenceCode(state.lags[0], pitch.lag);
    state.fields.pitch[k] = lagCode * 128 + pitch.entry;
    state.fields.amplitude[k] = amplitude;
    state.fields.positions[k] = pulses.positionWord;
    state.fields.signs[k] = pulses.signs;

    AddPulses(x, pulses.positionWord, pulses.signs, AmplitudeOf(amplitude));
    dsp::LimitExcitation(x, kSubframeLength);
    PushExcitation(state.history, x);

    // The cascade's memories follow the decoder's synthesis.
    {
        float syn[kOrder + kSubframeLength];
        float ws[kShapingHistory + kSubframeLength];
        float out[kSubframeLength];
        cascade.Run(state, x, syn, ws, out);
        std::memcpy(state.synthesis, syn + kSubframeLength, sizeof state.synthesis);
        std::memcpy(state.weightedSynthesis, ws + kSubframeLength, sizeof state.weightedSynthesis);
    }

    if (observer != nullptr) observer->OnSubframe(SubframeTrace{k, &pitch, target, h, x, amplitude});
}

// The impulse response of W(z) / A(z) over kLspResponseLength samples, W(z)
// the weighting of the unquantised set `lpc` and A(z) the set `synthesis`:
// the weighted synthesis filter as the sub-frame search sees it.
constexpr int kLspResponseLength = 40;
void WeightedResponse(const float *weighted, const float *synthesis, float *out) {
    float y[kOrder + kLspResponseLength] = {};
    dsp::AllPoleFilter(weighted, synthesis, kOrder, y + kOrder, kLspResponseLength);
    std::memcpy(out, y + kOrder, sizeof(float) * kLspResponseLength);
}

// The LSP vector among the search's finalists whose two sub-frames'
// weighted synthesis filters (the interpolated set for sub-frame 0) come
// closest in their impulse responses to those of the unquantised sets: the
// error the sub-frame searches inherit from the envelope, rather than the
// distance of the LSPs themselves.
LspCode ChooseLsp(const EncoderState &state) {
    const EncoderTuning &t = state.tuning;
    const Lsp weights = LspWeights(state.lsp);
    const auto stages = LspStages();
    dsp::MsvqChoice finalists[dsp::kMsvqMaxKeep];
    const int count = dsp::MsvqFinalists(state.lsp.data(), weights.data(), nullptr, kOrder, stages.data(), kLspStages,
                                         t.lspKeep, finalists);
    const int compared = count < t.lspFinalists ? count : t.lspFinalists;
    // The weighting's impulse response, then the reference responses.
    float weighted[kSubframes][kLspResponseLength];
    float reference[kSubframes][kLspResponseLength];
    for (int k = 0; k < kSubframes; ++k) {
        const Weighting w(state.lpc[k]);
        float impulse[kOrder + kLspResponseLength] = {};
        impulse[kOrder] = 1.0f;
        float y[kOrder + kLspResponseLength] = {};
        dsp::FirFilter(impulse + kOrder, w.num, kOrder, y + kOrder, kLspResponseLength);
        dsp::AllPoleFilter(y + kOrder, w.den, kOrder, y + kOrder, kLspResponseLength);
        std::memcpy(weighted[k], y + kOrder, sizeof weighted[k]);
        WeightedResponse(weighted[k], state.lpc[k], reference[k]);
    }
    LspCode best{};
    float bestError = 3e38f;
    for (int i = 0; i < compared; ++i) {
        LspCode code{};
        for (int s = 0; s < kLspStages; ++s) code.indices[s] = finalists[i].indices[s];
        code.quantised = RebuildLsp(code.indices);
        float lpc[kSubframes][kOrder];
        InterpolateLpc(code.quantised, state.previousLsp, lpc);
        float error = 0.0f;
        for (int k = 0; k < kSubframes; ++k) {
            float response[kLspResponseLength];
            WeightedResponse(weighted[k], lpc[k], response);
            for (int n = 0; n < kLspResponseLength; ++n) {
                const float d = response[n] - reference[k][n];
                error += d * d;
            }
        }
        if (i == 0 || error < bestError) {
            bestError = error;
            best = code;
        }
    }
    return best;
}

} // namespace

void AnalyseFrame(EncoderState &state, const float *pcm) {
    std::memcpy(state.buffer, state.speech, sizeof state.speech);
    std::memcpy(state.buffer + kSpeechHistory, pcm, sizeof(float) * kFrameLength);
    PreFilter(state.pre, state.buffer + kSpeechHistory, kFrameLength);
    std::memcpy(state.speech, state.buffer + kFrameLength, sizeof state.speech);

    for (int i = 0; i < kSubframes; ++i) {
        dsp::AnalyseBlock(state.buffer + kSubframeLength * i, kAnalysisWindow, kHammingHalf, kLagWindow, 1.001f, kOrder,
                          state.lpc[i]);
    }
    dsp::BandwidthExpand(state.lpc[1], kOrder, 0.996f, state.lpc[1]);
    dsp::LpcToLsp(state.lpc[1], kOrder, state.lsp.data());
}

void EncodeFrame(EncoderState &state, const float *pcm, uint8_t *out, EncoderObserver *observer) {
    AnalyseFrame(state, pcm);
    state.fields = FrameFields{};
    state.fields.type = kSpeechFrame;

    const LspCode code = state.tuning.lspKeep == kLspCandidates && state.tuning.lspFinalists == 1
                             ? QuantiseLsp(state.lsp, LspWeights(state.lsp))
                             : ChooseLsp(state);
    for (int s = 0; s < kLspStages; ++s) state.fields.lsp[s] = code.indices[s];
    state.quantisedLsp = code.quantised;
    InterpolateLpc(code.quantised, state.previousLsp, state.quantisedLpc);
    state.previousLsp = code.quantised;

    WeightFrame(state);
    for (int k = 0; k < kSubframes; ++k) CodeSubframe(state, k, observer);
    PackFrame(state.fields, out);
}

} // namespace vntr::vt120
