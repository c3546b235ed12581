#include "decoder.hpp"

#include "excitation.hpp"
#include "tables.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/random.hpp>

#include <cmath>
#include <cstring>

namespace vntr::vt120 {

const dsp::PostFilterConfig kPostFilterConfig{{kInterp4, kInterp16}, 20, dsp::PitchGateEdges::RatioInclusive};

void InitDecoder(DecoderState &state) {
    state = DecoderState{};
    state.previousLsp = InitialLsp();
    state.lags[0] = state.lags[1] = kMinLag;
    state.carriedType = kSpeechFrame;
    dsp::ResetPostFilter(state.post);
    state.noiseSeed = 0x2545F491u;
    state.simd = dsp::DetectSimd();
}

namespace {

void NewEnvelope(DecoderState &state, const Lsp &q) {
    InterpolateLpc(q, state.previousLsp, state.lpc);
    state.previousLsp = q;
}

void HeldEnvelope(DecoderState &state) {
    InterpolateLpc(state.previousLsp, state.previousLsp, state.lpc);
}

void DecodeSpeech(DecoderState &state) {
    const FrameFields &f = state.fields;
    DecodeLags(f.pitch[0], f.pitch[1], state.lags);
    NewEnvelope(state, RebuildLsp(f.lsp));
    for (int k = 0; k < kSubframes; ++k) {
        float *x = state.excitation + k * kSubframeLength;
        AdaptiveVector(state.history, state.lags[k], f.pitch[k], x, kPredictorCodebook, state.simd);
        AddPulses(x, f.positions[k], f.signs[k], AmplitudeOf(f.amplitude[k]));
        dsp::LimitExcitation(x, kSubframeLength);
        PushExcitation(state.history, x);
    }
    state.fadedSubframes = 0;
}

// White noise scaled so that the synthesis filter of each sub-frame turns it
// into noise of RMS `level`.
void ComfortNoise(DecoderState &state) {
    for (int k = 0; k < kSubframes; ++k) {
        float h[kFrameLength];
        const float zero[kOrder] = {};
        dsp::PoleZeroImpulseResponse(zero, state.lpc[k], kOrder, h, kFrameLength);
        double power = 0.0;
        for (float v : h) power += static_cast<double>(v) * v;
        // Uniform noise on -1..1 has an RMS of 1/sqrt(3).
        const auto gain = static_cast<float>(state.noiseLevel * std::sqrt(3.0 / power));
        float *x = state.excitation + k * kSubframeLength;
        for (int n = 0; n < kSubframeLength; ++n) {
            x[n] = gain * (static_cast<float>(dsp::NextRandom15(state.noiseSeed)) - 16384.0f) / 16384.0f;
        }
        dsp::LimitExcitation(x, kSubframeLength);
        PushExcitation(state.history, x);
    }
}

// A lost speech frame: the last period again, weaker every sub-frame.
void Conceal(DecoderState &state) {
    for (int k = 0; k < kSubframes; ++k) {
        float *x = state.excitation + k * kSubframeLength;
        if (state.fadedSubframes >= kFadeSubframes) {
            std::memset(x, 0, sizeof(float) * kSubframeLength);
        } else {
            float u[kAdaptiveLength];
            dsp::BuildExtendedVector(state.history + kExcitationHistory, state.lags[1], kSubframeLength, u);
            for (int n = 0; n < kSubframeLength; ++n) x[n] = kFadePerSubframe * u[n + 2];
            ++state.fadedSubframes;
        }
        PushExcitation(state.history, x);
    }
}

bool Finite(const float *x, int length) {
    float sum = 0.0f;
    for (int n = 0; n < length; ++n) sum += x[n] * 0.0f;
    return sum == 0.0f; // 0 * inf and 0 * nan are nan
}

} // namespace

void DecodeFrame(DecoderState &state, const uint8_t *coded, float *out, bool postFilter) {
    state.fields = UnpackFrame(coded);
    // The frame before said what this one is; this one's type bits speak for the next.
    const int type = state.carriedType;
    state.carriedType = state.fields.type;
    if (type == kSpeechFrame) {
        DecodeSpeech(state);
        state.comfortNoise = false;
    } else if (type == kComfortNoiseFrame) {
        state.noiseLevel = ComfortNoiseLevel(coded);
        state.comfortNoise = true;
        NewEnvelope(state, RebuildLsp(state.fields.lsp));
        ComfortNoise(state);
    } else if (state.comfortNoise) {
        HeldEnvelope(state);
        ComfortNoise(state);
    } else {
        HeldEnvelope(state);
        Conceal(state);
    }

    float y[kOrder + kFrameLength];
    std::memcpy(y, state.synthesis, sizeof state.synthesis);
    for (int k = 0; k < kSubframes; ++k) {
        dsp::AllPoleFilter(state.excitation + k * kSubframeLength, state.lpc[k], kOrder,
                           y + kOrder + k * kSubframeLength, kSubframeLength);
    }
    std::memcpy(state.synthesis, y + kFrameLength, sizeof state.synthesis);
    std::memcpy(state.speech, y + kOrder, sizeof state.speech);

    // Both sub-frames' post-filter shapes at once (two short recursions side by side).
    dsp::PostFilterShape shapes[kSubframes];
    dsp::PostFilterShapePair(state.lpc[0], state.lpc[1], kPostFilterConfig, shapes[0], shapes[1]);
    for (int k = 0; k < kSubframes; ++k) {
        float *o = out + k * kSubframeLength;
        dsp::PostFilterSubframe(state.post, state.speech + k * kSubframeLength, state.lags[k], shapes[k],
                                kSubframeLength, kPostFilterConfig, o);
        if (!postFilter) std::memcpy(o, state.speech + k * kSubframeLength, sizeof(float) * kSubframeLength);
    }

    // The filters are stable and the excitation bounded, so this never trips;
    // should arithmetic ever overflow, the signal state restarts instead of
    // staying silent for good.
    if (!Finite(out, kFrameLength) || !Finite(state.synthesis, kOrder) || !Finite(state.post.formant, kOrder) ||
        !std::isfinite(state.post.gain)) {
        std::memset(state.history, 0, sizeof state.history);
        std::memset(state.synthesis, 0, sizeof state.synthesis);
        dsp::ResetPostFilter(state.post);
        std::memset(out, 0, sizeof(float) * kFrameLength);
    }
}

} // namespace vntr::vt120
