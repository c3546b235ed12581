#include "encoder.hpp"

#include "excitation.hpp"
#include "filter_pair.hpp"
#include "pulse_search.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/pulses.hpp>
#include <vntr/dsp/vector.hpp>

#include <cstring>

namespace vntr::vt120 {

void InitEncoder(EncoderState &state) {
    state = EncoderState{};
    state.previousLsp = InitialLsp();
    state.simd = DetectSimd();
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
    state.openLoopLag = dsp::OpenLoopPitch(frame, kFrameLength, kMinLag, kOpenLoopMaxLag, state.simd == Simd::Avx2);
    for (int k = 0; k < kSubframes; ++k) {
        state.shaping[k] = dsp::HarmonicNoiseWeighting(frame + k * kSubframeLength, kSubframeLength,
                                                       state.openLoopLag, state.shaped + k * kSubframeLength);
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
        AllPolePair<kOrder>(impulse, synH + kOrder, zero, syn + kOrder, quantised, kSubframeLength);
        float w[kOrder + kSubframeLength] = {};
        float ws[kShapingHistory + kSubframeLength];
        std::memcpy(ws, state.weightedSynthesis, sizeof state.weightedSynthesis);
        float *cur = ws + kShapingHistory;
        dsp::FirFilter(synH + kOrder, weighting.num, kOrder, w + kOrder, kSubframeLength);
        dsp::FirFilter(syn + kOrder, weighting.num, kOrder, cur, kSubframeLength);
        AllPolePair<kOrder>(w + kOrder, w + kOrder, cur, cur, weighting.den, kSubframeLength);
        for (int n = 0; n < kSubframeLength; ++n) {
            h[n] = w[kOrder + n];
            if (shaping.lag >= 0 && n >= shaping.lag) h[n] -= shaping.gain * w[kOrder + n - shaping.lag];
            out[n] = shaping.lag >= 0 ? cur[n] - shaping.gain * cur[n - shaping.lag] : cur[n];
        }
    }
};

// y = h * x over the sub-frame, each y(n) summed from +0 over i = 0..n in
// turn; added one tap at a time over the whole signal, which keeps that
// order and runs in vector lanes.
void Convolve(const float *h, const float *x, float *y) {
    for (int n = 0; n < kSubframeLength; ++n) y[n] = 0.0f;
    for (int i = 0; i < kSubframeLength; ++i) dsp::Axpy(h[i], x, y + i, kSubframeLength - i);
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

    // Closed-loop pitch around the open-loop lag, or sub-frame 0's lag.
    const int centre = k == 0 ? state.openLoopLag : state.lags[0];
    const PitchChoice pitch = SearchPitch(state.history, h, target, centre, codebook, state.simd);
    state.lags[k] = pitch.lag;
    float *x = state.excitation + k * kSubframeLength;
    AdaptiveVector(state.history, pitch.lag, pitch.entry, x, codebook, state.simd);
    const int lagCode = k == 0 ? pitch.lag - kMinLag : LagDifferenceCode(state.lags[0], pitch.lag);
    state.fields.pitch[k] = lagCode * 128 + pitch.entry;

    // Pulses on what the pitch prediction leaves.
    float predicted[kSubframeLength];
    Convolve(h, x, predicted);
    float x2[kSubframeLength];
    for (int n = 0; n < kSubframeLength; ++n) x2[n] = target[n] - predicted[n];
    const PulseChoice pulses = SearchPulses(x2, h, state.simd);
    float z[kSubframeLength];
    FilterPulses(pulses, h, z);
    const int amplitude = dsp::QuantiseAmplitude(x2, z, kSubframeLength, kAmplitude, kAmplitudeLevels);
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

} // namespace

void AnalyseFrame(EncoderState &state, const float *pcm) {
    std::memcpy(state.buffer, state.speech, sizeof state.speech);
    std::memcpy(state.buffer + kSpeechHistory, pcm, sizeof(float) * kFrameLength);
    PreFilter(state.pre, state.buffer + kSpeechHistory, kFrameLength);
    std::memcpy(state.speech, state.buffer + kFrameLength, sizeof state.speech);

    for (int i = 0; i < kSubframes; ++i) {
        dsp::AnalyseBlock(state.buffer + kSubframeLength * i, kAnalysisWindow, kHammingHalf, kLagWindow, 1.001f,
                          kOrder, state.lpc[i]);
    }
    dsp::BandwidthExpand(state.lpc[1], kOrder, 0.996f, state.lpc[1]);
    dsp::LpcToLsp(state.lpc[1], kOrder, state.lsp.data());
}

void EncodeFrame(EncoderState &state, const float *pcm, uint8_t *out, EncoderObserver *observer) {
    AnalyseFrame(state, pcm);
    state.fields = FrameFields{};
    state.fields.type = kSpeechFrame;

    const LspCode code = QuantiseLsp(state.lsp, LspWeights(state.lsp));
    for (int s = 0; s < kLspStages; ++s) state.fields.lsp[s] = code.indices[s];
    state.quantisedLsp = code.quantised;
    InterpolateLpc(code.quantised, state.previousLsp, state.quantisedLpc);
    state.previousLsp = code.quantised;

    WeightFrame(state);
    for (int k = 0; k < kSubframes; ++k) CodeSubframe(state, k, observer);
    PackFrame(state.fields, out);
}

} // namespace vntr::vt120
