#include "encoder.hpp"

#include "bitstream.hpp"
#include "excitation.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>

#include <cstring>

namespace vntr::vt4864v6 {

void InitEncoder(EncoderState &state, bool variableRate, const RateMode &initial, uint32_t searches) {
    state = EncoderState{};
    state.variableRate = variableRate;
    state.searches = searches;
    state.simd = dsp::DetectSimd();
    state.rateCode = initial.rateCode;
    state.previousLsp = InitialLsp();
}

namespace {

// Perceptual weighting W(z) = A(z/0.9)/A(z/0.5) in place over one sub-frame
// of the speech buffer, then the open-loop pitch and the harmonic weighting
// that give the sub-frame's target base.
void WeightSubframe(EncoderState &state, int k, const RateMode &mode) {
    const int length = mode.subframeLength;
    float *x = state.speech + kCodedFrameStart + k * length;
    float num[kOrder];
    float den[kOrder];
    dsp::BandwidthExpand(state.lpc[k], kOrder, 0.9f, num);
    dsp::BandwidthExpand(state.lpc[k], kOrder, 0.5f, den);

    float in[kOrder + kMaxSubframeLength];
    std::memcpy(in, state.weightingInput, sizeof state.weightingInput);
    std::memcpy(in + kOrder, x, sizeof(float) * length);
    float out[kOrder + kMaxSubframeLength];
    std::memcpy(out, state.weightingOutput, sizeof state.weightingOutput);
    dsp::FirFilter(in + kOrder, num, kOrder, out + kOrder, length);
    dsp::AllPoleFilter(out + kOrder, den, kOrder, out + kOrder, length);
    std::memcpy(state.weightingInput, in + length, sizeof state.weightingInput);
    std::memcpy(state.weightingOutput, out + length, sizeof state.weightingOutput);
    std::memcpy(x, out + kOrder, sizeof(float) * length);

    std::memmove(state.weightedSpeech, state.weightedSpeech + length, sizeof(float) * (kWeightedBuffer - length));
    std::memcpy(state.weightedSpeech + kWeightedBuffer - length, x, sizeof(float) * length);
    const float *cur = state.weightedSpeech + kWeightedBuffer - length;
    state.openLoopLag[k] = OpenLoopPitch(cur, length);
    state.harmonic[k] = HarmonicNoiseWeighting(cur, length, state.openLoopLag[k], state.target + k * length);
}

// The lag of sub-frame k and how it is coded.
struct LagPlan {
    bool differential;
    int reference; // sub-frame index of the reference lag
};

LagPlan PlanLag(const EncoderState &state, const RateMode &mode, int k) {
    if (!mode.is4800) return {false, 0};
    // The sub-frame whose window predicts worse keeps an absolute lag.
    const bool lateDifferential = state.predictionError[0] > state.predictionError[2];
    if (lateDifferential && k == 2) return {true, 1};
    if (!lateDifferential && k == 1) return {true, 0};
    return {false, 0};
}

void CodeSubframe(EncoderState &state, int k, const RateMode &mode, int *lags, EncoderObserver *observer) {
    const int length = mode.subframeLength;
    const PredictorCodebook &codebook = state.predictor ? *state.predictor : kPredictorCodebook;
    const float *quantised = state.quantisedLpc[k];
    float num[kOrder];
    float den[kOrder];
    dsp::BandwidthExpand(state.lpc[k], kOrder, 0.9f, num);
    dsp::BandwidthExpand(state.lpc[k], kOrder, 0.5f, den);
    const HarmonicWeighting hw = state.harmonic[k];

    // Impulse response of P(z) W(z) / A^(z), P(z) = 1 - g z^-d.
    float h[kMaxSubframeLength];
    {
        float syn[kOrder + kMaxSubframeLength] = {};
        float impulse[kMaxSubframeLength] = {1.0f};
        dsp::AllPoleFilter(impulse, quantised, kOrder, syn + kOrder, length);
        float w[kOrder + kMaxSubframeLength] = {};
        dsp::FirFilter(syn + kOrder, num, kOrder, w + kOrder, length);
        dsp::AllPoleFilter(w + kOrder, den, kOrder, w + kOrder, length);
        for (int n = 0; n < length; ++n) {
            h[n] = w[kOrder + n];
            if (hw.lag >= 0 && n >= hw.lag) h[n] -= hw.gain * w[kOrder + n - hw.lag];
        }
    }

    // Target: the target base less the zero-input response of the filters.
    float target[kMaxSubframeLength];
    {
        float syn[kOrder + kMaxSubframeLength];
        std::memcpy(syn, state.synthesis, sizeof state.synthesis);
        float zero[kMaxSubframeLength] = {};
        dsp::AllPoleFilter(zero, quantised, kOrder, syn + kOrder, length);
        float y[kWeightedSynthesisHistory + kMaxSubframeLength];
        std::memcpy(y, state.weightedSynthesis, sizeof state.weightedSynthesis);
        float *cur = y + kWeightedSynthesisHistory;
        dsp::FirFilter(syn + kOrder, num, kOrder, cur, length);
        dsp::AllPoleFilter(cur, den, kOrder, cur, length);
        const float *base = state.target + k * length;
        for (int n = 0; n < length; ++n) {
            float response = cur[n];
            if (hw.lag >= 0) response -= hw.gain * cur[n - hw.lag];
            target[n] = base[n] - response;
        }
    }

    // Pitch lag.
    const LagPlan plan = PlanLag(state, mode, k);
    int lag;
    int lowest = kMinLag + 1;
    int highest = kMaxLag - 1;
    if (plan.differential) {
        lag = DifferentialLagSearch(state.past, target, length, lags[plan.reference]);
        const int centre = DifferentialCentre(lags[plan.reference]);
        lowest = centre - 7;
        highest = centre + 6;
    } else {
        lag = state.openLoopLag[k];
        if (lag < lowest) lag = lowest;
        if (lag > highest) lag = highest;
    }

    // 5-tap predictor: at the lag chosen, or at the best of it and its two
    // neighbours by the predictor's own score.
    float v[kMaxSubframeLength + 4];
    float views[kPredictorTaps][kMaxSubframeLength];
    BuildExtendedVector(state.past, lag, length, v);
    PredictorStatistics stats = FilterPredictorViews(v, h, target, length, views);
    int entry = SearchPredictor(stats, codebook);
    if ((state.searches & kClosedLoopLag) != 0) {
        float bestScore = PredictorScore(stats, codebook, entry);
        const int chosen = lag;
        for (const int candidate : {chosen - 1, chosen + 1}) {
            if (candidate < lowest || candidate > highest) continue;
            float cv[kMaxSubframeLength + 4];
            float cviews[kPredictorTaps][kMaxSubframeLength];
            BuildExtendedVector(state.past, candidate, length, cv);
            const PredictorStatistics cstats = FilterPredictorViews(cv, h, target, length, cviews);
            const int centry = SearchPredictor(cstats, codebook);
            const float score = PredictorScore(cstats, codebook, centry);
            if (score > bestScore) {
                bestScore = score;
                lag = candidate;
                stats = cstats;
                entry = centry;
                std::memcpy(views, cviews, sizeof views);
            }
        }
    }
    lags[k] = lag;
    float *e = state.excitation + k * length;
    BuildPitchExcitation(state.past, lag, entry, length, e, codebook);

    // Pulses on what the prediction leaves.
    float pulseTarget[kMaxSubframeLength];
    const double *b = codebook.taps[entry];
    for (int n = 0; n < length; ++n) {
        double predicted = 0.0;
        for (int j = 0; j < kPredictorTaps; ++j) predicted += b[j] * views[j][n];
        pulseTarget[n] = target[n] - static_cast<float>(predicted);
    }
    float c[kMaxSubframeLength];
    float f[kMaxSubframeLength];
    const PulseChoice pulses = (state.searches & kExhaustivePulses) != 0
                                   ? SearchPulsesExhaustive(pulseTarget, h, mode, state.simd, c, f)
                                   : SearchPulses(pulseTarget, h, mode, state.budgets, c, f);
    const int gainIndex = QuantisePulseGain(pulseTarget, f, length);
    AddPulses(e, pulses.signs, pulses.positions, gainIndex, mode);
    LimitExcitation(e, length);
    UpdatePastExcitation(state.past, e, length);

    // Filter memories follow the decoder's synthesis.
    {
        float syn[kOrder + kMaxSubframeLength];
        std::memcpy(syn, state.synthesis, sizeof state.synthesis);
        dsp::AllPoleFilter(e, quantised, kOrder, syn + kOrder, length);
        float y[kWeightedSynthesisHistory + kMaxSubframeLength];
        std::memcpy(y, state.weightedSynthesis, sizeof state.weightedSynthesis);
        float *cur = y + kWeightedSynthesisHistory;
        dsp::FirFilter(syn + kOrder, num, kOrder, cur, length);
        dsp::AllPoleFilter(cur, den, kOrder, cur, length);
        std::memcpy(state.synthesis, syn + length, sizeof state.synthesis);
        std::memcpy(state.weightedSynthesis, y + length, sizeof state.weightedSynthesis);
    }

    state.params[static_cast<std::size_t>(mode.SignsWord(k))] = pulses.signs;
    state.params[static_cast<std::size_t>(mode.PositionsWord(k))] = pulses.positions;
    state.params[static_cast<std::size_t>(mode.GainWord(k))] = static_cast<uint16_t>(gainIndex * 128 + entry);

    if (observer != nullptr) {
        observer->OnSubframe(SubframeTrace{&mode, k, lag, plan.differential, entry, gainIndex, &stats, target, e});
    }
}

void WriteLagWords(EncoderState &state, const RateMode &mode, const int *lags) {
    if (!mode.is4800) {
        for (int k = 0; k < 4; ++k) state.params[4 + k] = static_cast<uint16_t>(lags[k] - kMinLag);
        return;
    }
    const bool lateDifferential = state.predictionError[0] > state.predictionError[2];
    state.params[4] = static_cast<uint16_t>(lags[0] - kMinLag);
    if (lateDifferential) {
        state.params[5] = static_cast<uint16_t>(lags[1] - kMinLag);
        state.params[6] = static_cast<uint16_t>(16 + DifferentialCode(lags[2], lags[1]));
    } else {
        state.params[5] = static_cast<uint16_t>(lags[2] - kMinLag);
        state.params[6] = static_cast<uint16_t>(DifferentialCode(lags[1], lags[0]));
    }
}

} // namespace

void PrepareSpeech(EncoderState &state, const int16_t *pcm) {
    // The carried-over samples, then the new frame through the input filter.
    std::memcpy(state.speech, state.carry, sizeof state.carry);
    for (int n = 0; n < kFrameLength; ++n) state.speech[kCarryOver + n] = static_cast<float>(pcm[n]);
    InputFilter(state.input, state.speech + kCarryOver, kFrameLength);
    std::memcpy(state.carry, state.speech + kSpeechBuffer - kCarryOver, sizeof state.carry);
}

Lsp AnalyseEnvelope(EncoderState &state, const RateMode &mode) {
    const int last = mode.subframes - 1;
    for (int k = 0; k < mode.subframes; ++k) {
        state.predictionError[k] = AnalyseLpc(state.speech, mode.windowStart0 + k * mode.windowStep, state.lpc[k]);
    }
    dsp::BandwidthExpand(state.lpc[last], kOrder, 0.996f, state.lpc[last]);
    Lsp lsp;
    dsp::LpcToLsp(state.lpc[last], kOrder, lsp.data());
    return lsp;
}

void EncodeFrame(EncoderState &state, const int16_t *pcm, const RateMode &mode, uint8_t *out,
                 EncoderObserver *observer) {
    state.rateCode = mode.rateCode;
    state.params = VocoderParams{};
    PrepareSpeech(state, pcm);

    // Spectral envelope.
    const Lsp lsp = AnalyseEnvelope(state, mode);
    const LspIndices indices = QuantiseLsp(lsp, LspWeights(lsp), state.previousLsp);
    Lsp quantised = RebuildLsp(indices, state.previousLsp);
    StabiliseLsp(quantised, state.previousLsp);
    InterpolateLsp(quantised, state.previousLsp, mode.subframes, state.quantisedLpc);
    for (int s = 0; s < 3; ++s) state.params[static_cast<std::size_t>(s)] = static_cast<uint16_t>(indices[s]);

    for (int k = 0; k < mode.subframes; ++k) WeightSubframe(state, k, mode);

    state.budgets = PulseBudgets{kBudgetPerFrame, kBudgetPerFrame};
    int lags[kMaxSubframes] = {};
    for (int k = 0; k < mode.subframes; ++k) CodeSubframe(state, k, mode, lags, observer);
    WriteLagWords(state, mode, lags);

    state.previousLsp = quantised;
    PackFrame(state.params, mode, state.packed);
    std::memcpy(out, state.packed, static_cast<std::size_t>(mode.codedBytes));
}

} // namespace vntr::vt4864v6
