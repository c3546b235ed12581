#include "synthesis.hpp"

#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/vector.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vntr::vt15 {
namespace {

constexpr float kNoiseRise = 0.0337435f;   // dB per gain, towards a louder gain
constexpr float kNoiseFall = 0.135418f;    // dB per gain, towards a quieter gain
constexpr float kNoiseAmplitude = 1732.0f; // uniform noise of RMS 1000
constexpr float kPulseScale = 1000.0f;     // pulse of RMS 1000 over its period
constexpr int kRampSamples = 9;

float Doubled(float pitch) {
    return pitch > 79.75f ? 159.5f : 2.0f * pitch;
}

// y[n] = sum_k h[k] x[n-k] for a symmetric h: one inner product per sample.
//   in x [-kShapingMemory .. length-1]
void ShapingFir(const float *x, const float *h, float *y, int length) {
    for (int n = 0; n < length; ++n) y[n] = dsp::Dot(h, x + n - kShapingMemory, kShapingTaps);
}

} // namespace

OctaveChoice ChooseOctave(float previousPitch, float currentPitch, float previousGain2, float currentGain1) {
    float rp = previousPitch;
    float cp = currentPitch;
    if (rp * 0.5f > cp && currentGain1 > previousGain2 + 6.0f) rp = cp;
    if (1.5f * rp < 0.5f * cp) return OctaveChoice{OctaveMode::PreviousDoubled, Doubled(rp), cp};
    if (cp < 0.666f * rp) return OctaveChoice{OctaveMode::CurrentDoubled, rp, Doubled(cp)};
    return OctaveChoice{OctaveMode::None, rp, cp};
}

void PlacePulses(OctaveMode mode, float amplitude, float alpha, int length, float *pulses) {
    std::fill(pulses, pulses + length, 0.0f);
    if (mode == OctaveMode::None) {
        pulses[0] = amplitude;
        return;
    }
    const float half = amplitude / std::numbers::sqrt2_v<float>;
    pulses[0] = half;
    pulses[length / 2] += half * (mode == OctaveMode::CurrentDoubled ? alpha : 1.0f - alpha);
}

int PeriodLength(float period, float jitter, float u) {
    return std::clamp(static_cast<int>((1.0f - jitter * u) * period + 0.5f), kMinPeriod, kMaxPeriod);
}

void InitSynthesis(SynthesisState &state) {
    std::memset(&state, 0, sizeof state);
    state.previous.pitch = kUnvoicedPitch;
    InitialLsf(state.previous.lsf);
    state.noiseLevel = 10.0f;
    state.firstFrame = true;
    state.random = kSynthesisSeed;
}

void AttenuateGains(float &noiseLevel, float *gains) {
    for (int i = 0; i < 2; ++i) {
        float &g = gains[i];
        float &n = noiseLevel;
        if (g > n + kNoiseRise)
            n += kNoiseRise;
        else if (g < n - kNoiseFall)
            n -= kNoiseFall;
        else
            n = g;
        n = std::clamp(n, 10.0f, 80.0f);
        const float excess = g - (3.0f + std::min(n, 20.0f));
        if (excess > 0.001f) {
            g -= std::min(6.0f, -10.0f * std::log10(1.0f - std::pow(10.0f, -0.1f * excess)));
        } else {
            g -= 6.0f;
        }
    }
}

float SpectralTilt(const float *lsf) {
    float a[kOrder];
    float k[kOrder];
    dsp::LspToLpc(lsf, kOrder, a);
    dsp::LpcToReflection(a, kOrder, k);
    return k[0] < 0.0f ? 0.5f * k[0] : 0.0f;
}

void SynthesiseFrame(SynthesisState &state, FrameParameters cur, float *out) {
    FrameParameters &prev = state.previous;

    // Noise level and attenuation of gains near it.
    if (state.firstFrame) {
        state.noiseLevel = cur.gain[1];
        state.firstFrame = false;
    } else {
        AttenuateGains(state.noiseLevel, cur.gain);
    }
    const float noise = state.noiseLevel;

    // Spectral tilt.
    const float tilt = SpectralTilt(cur.lsf);

    // Octave jumps.
    const OctaveChoice octave = ChooseOctave(prev.pitch, cur.pitch, prev.gain[1], cur.gain[0]);
    const OctaveMode mode = octave.mode;
    const float rp = octave.previousPeriod;
    const float cp = octave.currentPeriod;
    // The current frame keeps the doubled period, and halves it again at the end.
    if (mode == OctaveMode::CurrentDoubled) cur.pitch = cp;

    // Shaping filters from the band voicing.
    float pulseFilter[kShapingTaps] = {};
    float noiseFilter[kShapingTaps] = {};
    for (int b = 0; b < kBands; ++b) {
        float *into = cur.voicing[b] > 0.5f ? pulseFilter : noiseFilter;
        for (int k = 0; k < kShapingTaps; ++k) into[k] += kBandFilters[b][k];
    }

    // Pitch periods.
    const float gainStep = cur.gain[1] - prev.gain[1];
    while (state.position < kFrameLength) {
        const int b = state.position;
        const float f = static_cast<float>(b) / kFrameLength;
        const float gain = b < kFrameLength / 2
                               ? (b / 90.0f) * cur.gain[0] + (1.0f - b / 90.0f) * prev.gain[1]
                               : ((b - 90) / 90.0f) * cur.gain[1] + (1.0f - (b - 90) / 90.0f) * cur.gain[0];
        float alpha = f;
        if (std::fabs(gainStep) > 6.0f) alpha = std::clamp((gain - prev.gain[1]) / gainStep, 0.0f, 1.0f);

        float lsf[kOrder];
        for (int k = 0; k < kOrder; ++k) lsf[k] = (1.0f - alpha) * prev.lsf[k] + alpha * cur.lsf[k];
        float a[kOrder];
        dsp::LspToLpc(lsf, kOrder, a);

        const float strength = std::clamp((gain - (noise + 12.0f)) / 18.0f, 0.0f, 1.0f);
        float zeros[kOrder];
        float poles[kOrder];
        float zeroFactor = 1.0f;
        float poleFactor = 1.0f;
        for (int k = 0; k < kOrder; ++k) {
            zeroFactor *= 0.5f * strength;
            poleFactor *= 0.8f * strength;
            zeros[k] = zeroFactor * a[k];
            poles[k] = poleFactor * a[k];
        }
        const float periodTilt = ((1.0f - alpha) * state.previousTilt + alpha * tilt) * strength;

        const float period = alpha * cp + (1.0f - alpha) * rp;
        const float amplitude = kPulseScale * std::sqrt(period);

        const float sf = std::sqrt(f);
        float pulseShape[kShapingTaps];
        float noiseShape[kShapingTaps];
        for (int k = 0; k < kShapingTaps; ++k) {
            pulseShape[k] = (1.0f - sf) * state.previousPulseFilter[k] + sf * pulseFilter[k];
            noiseShape[k] = (1.0f - sf) * state.previousNoiseFilter[k] + sf * noiseFilter[k];
        }
        const float jitter = (1.0f - f) * prev.jitter + f * cur.jitter;
        const float linearGain = std::pow(10.0f, 0.05f * gain);

        const float u = 2.0f * (static_cast<float>(NextSynthesisRandom(state.random)) / 32767.0f - 0.5f);
        const int length = PeriodLength(period, jitter, u);

        // Excitation: pulses and noise, each through its shaping filter.
        float pulses[kShapingMemory + kMaxPeriod];
        float noises[kShapingMemory + kMaxPeriod];
        std::memcpy(pulses, state.pulseMemory, sizeof state.pulseMemory);
        std::memcpy(noises, state.noiseMemory, sizeof state.noiseMemory);
        float *pulseIn = pulses + kShapingMemory;
        float *noiseIn = noises + kShapingMemory;
        PlacePulses(mode, amplitude, alpha, length, pulseIn);
        for (int n = 0; n < length; ++n) {
            const float r = static_cast<float>(NextSynthesisRandom(state.random));
            noiseIn[n] = 2.0f * kNoiseAmplitude * (r / 32767.0f - 0.5f);
        }
        float excitation[kMaxPeriod];
        float shapedNoise[kMaxPeriod];
        ShapingFir(pulseIn, pulseShape, excitation, length);
        ShapingFir(noiseIn, noiseShape, shapedNoise, length);
        for (int n = 0; n < length; ++n) excitation[n] += shapedNoise[n];
        std::memcpy(state.pulseMemory, pulseIn + length - kShapingMemory, sizeof state.pulseMemory);
        std::memcpy(state.noiseMemory, noiseIn + length - kShapingMemory, sizeof state.noiseMemory);

        // Enhancement (pole part, then zero part on the pole part's output),
        // tilt, then the synthesis filter.
        float enhanced[kOrder + kMaxPeriod];
        float synthesised[kOrder + kMaxPeriod];
        std::memcpy(enhanced, state.enhancementMemory, sizeof state.enhancementMemory);
        std::memcpy(synthesised, state.synthesisMemory, sizeof state.synthesisMemory);
        float *w = enhanced + kOrder;
        float *y = synthesised + kOrder;
        float tiltIn = state.tiltMemory;
        for (int n = 0; n < length; ++n) {
            float v = excitation[n];
            for (int k = 0; k < kOrder; ++k) v -= poles[k] * w[n - 1 - k];
            w[n] = v;
            float z = v;
            for (int k = 0; k < kOrder; ++k) z += zeros[k] * w[n - 1 - k];
            const float t = z + periodTilt * tiltIn;
            tiltIn = z;
            float s = t;
            for (int k = 0; k < kOrder; ++k) s -= a[k] * y[n - 1 - k];
            y[n] = s;
        }
        state.tiltMemory = tiltIn;
        std::memcpy(state.enhancementMemory, w + length - kOrder, sizeof state.enhancementMemory);
        std::memcpy(state.synthesisMemory, y + length - kOrder, sizeof state.synthesisMemory);

        // Scale to the gain, with a short ramp from the last period's factor.
        // A period with no signal at all (the first one, whose shaping filters
        // fade in from zero) has nothing to scale: it keeps the last factor
        // rather than 100 times the gain, which the next period's ramp would
        // turn into a full-scale click.
        const float energy = dsp::Dot(y, y, length);
        const float scale =
            energy > 0.0f ? linearGain / (std::sqrt(energy / static_cast<float>(length)) + 0.01f) : state.previousScale;
        float scaled[kDispersionMemory + kMaxPeriod];
        std::memcpy(scaled, state.dispersionMemory, sizeof state.dispersionMemory);
        float *x = scaled + kDispersionMemory;
        for (int n = 0; n < length; ++n) {
            const float factor =
                n < kRampSamples
                    ? (static_cast<float>(kRampSamples - n) * state.previousScale + static_cast<float>(n + 1) * scale) /
                          10.0f
                    : scale;
            x[n] = y[n] * factor;
        }
        state.previousScale = scale;

        // Pulse dispersion into the output buffer.
        float *dest = state.output + b;
        for (int n = 0; n < length; ++n) {
            dest[n] = dsp::Dot(kDispersionFilterReversed.data(), x + n - kDispersionMemory, kDispersionTaps);
        }
        std::memcpy(state.dispersionMemory, x + length - kDispersionMemory, sizeof state.dispersionMemory);
        state.position = b + length;
    }

    // The current frame becomes the previous one.
    if (mode == OctaveMode::CurrentDoubled) cur.pitch *= 0.5f;
    std::memcpy(state.previousPulseFilter, pulseFilter, sizeof pulseFilter);
    std::memcpy(state.previousNoiseFilter, noiseFilter, sizeof noiseFilter);
    state.previousTilt = tilt;
    prev = cur;
    state.position -= kFrameLength;
    std::memcpy(out, state.output, kFrameLength * sizeof(float));
    std::memmove(state.output, state.output + kFrameLength, kFrameLength * sizeof(float));
    std::fill(state.output + kFrameLength, state.output + 2 * kFrameLength, 0.0f);
}

} // namespace vntr::vt15
