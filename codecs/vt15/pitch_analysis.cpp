#include "pitch_analysis.hpp"

#include "parameters.hpp"

#include <vntr/dsp/pitch.hpp>
#include <vntr/dsp/vector.hpp>

#include <algorithm>
#include <cmath>

namespace vntr::vt15 {
namespace {

constexpr float kDoublingFloor = 30.0f; // shorter pitches must also correlate at a multiple of at least this
constexpr float kTrustedStrength = 0.55f;

dsp::PitchEstimate Refine(const float *signal, float pitch, float range) {
    return dsp::RefinePitch(signal + kPitchWindowStart, kPitchWindow, pitch, range, kMinPitch, kMaxPitch);
}

float StrengthAt(const float *signal, float pitch) {
    return dsp::PitchStrengthAt(signal + kPitchWindowStart, kPitchWindow, pitch);
}

// A pitch under 30 samples counts only as strongly as its smallest multiple of at least 30.
float CheckedStrength(const float *signal, float pitch, float strength) {
    if (pitch >= kDoublingFloor) return strength;
    const float multiple = std::ceil(kDoublingFloor / pitch) * pitch;
    return std::min(strength, StrengthAt(signal, std::min(multiple, kMaxPitch)));
}

} // namespace

void InitPitchAverage(PitchAverage &average) {
    for (float &p : average.history) p = kUnvoicedPitch;
}

float AveragePitch(const PitchAverage &average) {
    const float a = average.history[0], b = average.history[1], c = average.history[2];
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

void UpdatePitchAverage(PitchAverage &average, float pitch, float strength, float gain2) {
    if (gain2 > 30.0f && strength > 0.8f) {
        average.history[2] = average.history[1];
        average.history[1] = average.history[0];
        average.history[0] = pitch;
    } else {
        for (float &p : average.history) p = 0.95f * p + 2.5f;
    }
}

void FinalPitch(const float *lowPass, const float *speech, float band1Pitch, float averagePitch, float &pitch,
                float &strength) {
    dsp::PitchEstimate estimate = Refine(lowPass, band1Pitch, 5.0f);
    const float *signal = lowPass;
    float factor;
    if (estimate.strength >= 0.6f) {
        factor = estimate.pitch > 100.0f ? 0.5f : 0.75f;
    } else {
        estimate = Refine(speech, estimate.pitch, 0.0f);
        signal = speech;
        if (estimate.strength < kTrustedStrength) {
            pitch = averagePitch;
            strength = estimate.strength;
            return;
        }
        factor = estimate.pitch > 100.0f ? 0.7f : 0.9f;
    }
    // Submultiples from the shortest: the first that correlates nearly as
    // well as the pitch itself is the true period.
    for (int k = 8; k >= 2; --k) {
        const float sub = estimate.pitch / static_cast<float>(k);
        if (sub < kMinPitch) continue;
        dsp::PitchEstimate candidate = Refine(signal, sub, 5.0f);
        candidate.strength = CheckedStrength(signal, candidate.pitch, candidate.strength);
        if (candidate.strength > factor * estimate.strength) {
            estimate = candidate;
            break;
        }
    }
    estimate.strength = CheckedStrength(signal, estimate.pitch, estimate.strength);
    pitch = estimate.strength < kTrustedStrength ? averagePitch : estimate.pitch;
    strength = estimate.strength;
}

PitchVoicing AnalysePitch(const SignalHistory &history, float previousIntegerPitch, float averagePitch) {
    PitchVoicing out{};
    const dsp::PitchEstimate integer =
        dsp::IntegerPitch(history.lowPass + kPitchWindowStart, kPitchWindow, static_cast<int>(kMinAnalysisLag),
                          static_cast<int>(kMaxPitch));
    out.integerPitch = integer.pitch;

    // Band 1 around this frame's and the last frame's integer pitch.
    dsp::PitchEstimate band1 = Refine(history.band[0], integer.pitch, 5.0f);
    if (previousIntegerPitch >= kMinPitch) {
        const dsp::PitchEstimate other = Refine(history.band[0], previousIntegerPitch, 5.0f);
        if (other.strength > band1.strength) band1 = other;
    }
    out.voicing[0] = band1.strength;

    FinalPitch(history.lowPass, history.speech, band1.pitch, averagePitch, out.pitch, out.strength);

    BandVoicing(history, out.pitch, 0.0f, out.voicing);
    return out;
}

void BandVoicing(const SignalHistory &history, float pitch, float reach, float *voicing) {
    for (int b = 1; b < kBands; ++b) {
        float direct, envelope;
        if (reach > 0.0f) {
            direct = Refine(history.band[b], pitch, reach).strength;
            envelope = Refine(history.envelope[b], pitch, reach).strength - 0.1f;
        } else {
            direct = StrengthAt(history.band[b], pitch);
            envelope = StrengthAt(history.envelope[b], pitch) - 0.1f;
        }
        voicing[b] = std::max(direct, envelope);
    }
}

int PitchCandidates(const SignalHistory &history, float described, float reach, int maxCount, PitchCandidate *out) {
    constexpr int kMinLag = static_cast<int>(kMinPitch);
    constexpr int kMaxLag = static_cast<int>(kMaxPitch);
    const float *x = history.lowPass + kPitchWindowStart;
    // Normalised correlation per lag (c(T,T) slid one lag at a time).
    float norm[kMaxLag + 2] = {};
    const float c00 = dsp::Dot(x, x, kPitchWindow);
    double cTT = dsp::Dot(x - kMinLag, x - kMinLag, kPitchWindow);
    for (int lag = kMinLag; lag <= kMaxLag + 1; ++lag) {
        if (lag > kMinLag) {
            const double entering = x[-lag];
            const double leaving = x[kPitchWindow - lag];
            cTT += entering * entering - leaving * leaving;
        }
        const float c0T = dsp::Dot(x, x - lag, kPitchWindow);
        const float denominator = std::sqrt(std::max(c00 * static_cast<float>(cTT), 0.0f));
        norm[lag] = denominator > 0.0f ? c0T / denominator : 0.0f;
    }
    // The strongest local peaks.
    int peaks[kMaxPitchCandidates];
    int peakCount = 0;
    const int wanted = std::min(maxCount, kMaxPitchCandidates) - 1;
    for (int lag = kMinLag + 1; lag <= kMaxLag; ++lag) {
        if (norm[lag] <= 0.3f || norm[lag] < norm[lag - 1] || norm[lag] < norm[lag + 1]) continue;
        if (peakCount == wanted && (wanted == 0 || norm[lag] <= norm[peaks[wanted - 1]])) continue;
        int at = peakCount < wanted ? peakCount++ : wanted - 1; // a new place, or the weakest's
        while (at > 0 && norm[peaks[at - 1]] < norm[lag]) {
            peaks[at] = peaks[at - 1];
            --at;
        }
        peaks[at] = lag;
    }
    int count = 0;
    auto add = [&](float pitch, float strength) {
        for (int i = 0; i < count; ++i) {
            if (std::fabs(out[i].pitch - pitch) < 0.03f * pitch) {
                if (strength > out[i].strength) {
                    out[i].pitch = pitch;
                    out[i].strength = strength;
                }
                return;
            }
        }
        out[count].pitch = pitch;
        out[count].strength = strength;
        ++count;
    };
    add(described, CheckedStrength(history.lowPass, described, StrengthAt(history.lowPass, described)));
    for (int i = 0; i < peakCount; ++i) {
        const dsp::PitchEstimate e = Refine(history.lowPass, static_cast<float>(peaks[i]), 1.0f);
        add(e.pitch, CheckedStrength(history.lowPass, e.pitch, e.strength));
    }
    for (int i = 0; i < count; ++i) {
        out[i].voicing[0] = 0.0f;
        BandVoicing(history, out[i].pitch, reach, out[i].voicing);
    }
    return count;
}

} // namespace vntr::vt15
