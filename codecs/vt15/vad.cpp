#include "vad.hpp"

#include "analysis.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vntr::vt15 {
namespace {

constexpr float kNoMinimum = 160.0f;
constexpr float kSilenceEnergy = 15.0f; // dB; quieter frames are never active
constexpr int kLearningFrames = 32;
constexpr float kBackgroundDistance = 0.099683f;

float EnergyDb(float sum) {
    return 10.0f * std::log10(0.005f * (sum + 0.01f));
}

float SmallestMinimum(const float *minima) {
    return *std::min_element(minima, minima + kVadMinima);
}

// The fourteen tests of activity, in order.
bool AnyActivityCondition(float sd, float dSE, float dSLE, float dSZC) {
    const float se = 0.0996f * dSE;
    const float sle = 0.0996f * dSLE;
    if (0.25f * sd - 0.0017f * dSZC - 0.00085f > 0.0f) return true;
    if (0.25f * sd + 0.0045f * dSZC - 0.0012f > 0.0f) return true;
    if (se + 2.5f * dSZC + 0.5f < 0.0f) return true;
    if (se - 2.0f * dSZC + 0.6f < 0.0f) return true;
    if (se + 0.47f < 0.0f) return true;
    if (se - 220.0f * sd + 1.22f < 0.0f) return true;
    if (0.25f * sd - 0.0009f > 0.0f) return true;
    if (se - 2.5f * dSZC + 0.7f < 0.0f) return true;
    if (se + 2.9091f * dSZC + 0.4818f < 0.0f) return true;
    if (se + 0.53f < 0.0f) return true;
    if (sle - 350.0f * sd + 1.5561f < 0.0f) return true;
    if (0.0996f * (dSLE - 0.9286f * dSE) - 0.1143f > 0.0f) return true;
    if (0.0996f * (dSLE - 0.7143f * dSE) + 0.2143f < 0.0f) return true;
    if (0.0996f * (dSLE + 1.5f * dSE) + 0.9f < 0.0f) return true;
    return false;
}

} // namespace

void InitVad(VadState &state) {
    std::memset(&state, 0, sizeof state);
    state.minimum = kNoMinimum;
    state.extensionAllowed = true;
}

VadFeatures VadMeasure(VadState &state, const float *windowed, const float *r, const float *lsf) {
    VadFeatures f;
    f.fullEnergy = EnergyDb(r[0]);

    int crossings = 0;
    for (int i = 10; i < kLpcWindow - 10; ++i) {
        if (windowed[i] * windowed[i + 1] < 0.0f) ++crossings;
    }
    f.zeroCrossing = static_cast<float>(crossings) / 180.0f;

    // Third-order low-pass over the windowed samples.
    float *m = state.lowPassMemory;
    double energy = 0.0;
    for (int n = 0; n < kLpcWindow; ++n) {
        const float x = windowed[n];
        const float y = 0.0288714f * x - 0.0033166f * m[0] - 0.0033166f * m[1] + 0.0288714f * m[2] + 2.4191556f * m[3] -
                        2.1374567f * m[4] + 0.6727496f * m[5];
        m[2] = m[1];
        m[1] = m[0];
        m[0] = x;
        m[5] = m[4];
        m[4] = m[3];
        m[3] = y;
        energy += static_cast<double>(y) * y;
    }
    f.lowEnergy = EnergyDb(static_cast<float>(energy));

    f.k2 = 0.0f;
    if (r[0] > 0.0f) {
        const float k1 = -r[1] / r[0];
        const float error = r[0] * (1.0f - k1 * k1);
        if (error > 0.0f) f.k2 = -(r[2] + k1 * r[1]) / error;
    }
    std::copy(lsf, lsf + kOrder, f.lsf);
    return f;
}

bool VadDecide(VadState &s, const VadFeatures &f) {
    const uint32_t n = ++s.frame;
    const uint32_t m = n % 4;
    const float ef = f.fullEnergy;

    // The energy minimum over the last 64 frames, in blocks of four.
    if (n < 65) {
        if (ef < s.minimum) {
            s.minimum = ef;
            s.previousMinimum = ef;
        }
        if (m == 0) {
            s.minima[n / 4 - 1] = s.minimum;
            s.minimum = kNoMinimum;
        }
    } else {
        if (m == 1) {
            s.minimum = s.previousMinimum;
            s.nextMinimum = kNoMinimum;
        }
        s.minimum = std::min(s.minimum, ef);
        s.nextMinimum = std::min(s.nextMinimum, ef);
        if (m == 0) {
            std::memmove(s.minima, s.minima + 1, (kVadMinima - 1) * sizeof(float));
            s.minima[kVadMinima - 1] = s.nextMinimum;
        }
    }
    if (m == 0) s.previousMinimum = SmallestMinimum(s.minima);

    float sd = 0.0f;
    for (int i = 0; i < kOrder; ++i) sd += (f.lsf[i] - s.meanLsf[i]) * (f.lsf[i] - s.meanLsf[i]);

    // Learning: the first frames that are not silent make the mean energy,
    // zero-crossing rate and LSFs of the background.
    bool active = false;
    if (n <= kLearningFrames) {
        if (ef >= kSilenceEnergy) {
            active = true;
            s.meanEnergy += ef / kLearningFrames;
            s.meanZeroCrossing += f.zeroCrossing / kLearningFrames;
            for (int i = 0; i < kOrder; ++i) s.meanLsf[i] += f.lsf[i] / kLearningFrames;
        }
    }
    // Until the learning ends, a frame is active when it is not silent.
    if (n < kLearningFrames) {
        s.previousEnergy = ef;
        return active;
    }
    // The background levels from the learned mean.
    if (n == kLearningFrames) {
        const float e = s.meanEnergy;
        float drop = 15.0f;
        if (e <= 50.0f)
            drop = 0.0f;
        else if (e < 55.0f)
            drop = 5.0f;
        else if (e < 70.0f)
            drop = 10.0f;
        s.meanBackgroundEnergy = e - drop;
        s.meanBackgroundLowEnergy = e - drop - 2.0f;
    }

    // The decision: not silent, and apart from the background by any of the
    // spectral, energy, low-band energy or zero-crossing conditions.
    const float dSE = s.meanBackgroundEnergy - ef;
    const float dSLE = s.meanBackgroundLowEnergy - f.lowEnergy;
    const float dSZC = s.meanZeroCrossing - f.zeroCrossing;
    active = ef >= kSilenceEnergy && AnyActivityCondition(sd, dSE, dSLE, dSZC);

    // A louder frame right after an active one stays active.
    bool vFlag = false;
    if (s.previousDecision && !active && dSE + 2.0f < 0.0f && ef > kSilenceEnergy) {
        active = true;
        vFlag = true;
    }
    // Up to three extension frames after two active ones, at a steady level.
    if (s.extensionAllowed) {
        if (s.previousDecision && s.decisionBefore && !active && std::fabs(s.previousEnergy - ef) <= 3.0f) {
            ++s.extensionCount;
            active = true;
            vFlag = true;
            if (s.extensionCount > 2) {
                s.extensionCount = 0;
                s.extensionAllowed = false;
            }
        }
    } else {
        s.extensionAllowed = true;
    }
    // After a silence an onset must rise by more than 3 dB.
    if (!active) {
        ++s.silentCount;
    } else {
        if (s.silentCount > 5 && ef - s.previousEnergy <= 3.0f) active = false;
        s.silentCount = 0;
    }
    // After the first 64 frames, a frame near the background level whose
    // reflection coefficient k2 is low (no marked spectral shape) is
    // background, unless the two rules above kept it active.
    if (ef < s.meanBackgroundEnergy + 3.0f && n > 64 && !vFlag && f.k2 < 0.6f) active = false;

    // Background averages follow background-like frames.
    if (ef < s.meanBackgroundEnergy + 3.0f && f.k2 < 0.75f && sd < kBackgroundDistance) {
        const int c = ++s.updateCount;
        float alpha, beta, gamma;
        if (c < 10)
            alpha = 0.75f, beta = 0.8f, gamma = 0.6f;
        else if (c < 15)
            alpha = 0.95f, beta = 0.92f, gamma = 0.65f;
        else if (c < 20)
            alpha = 0.97f, beta = 0.94f, gamma = 0.7f;
        else if (c < 25)
            alpha = 0.99f, beta = 0.96f, gamma = 0.75f;
        else if (c < 30)
            alpha = 0.995f, beta = 0.99f, gamma = 0.75f;
        else
            alpha = 0.995f, beta = 0.998f, gamma = 0.75f;
        s.meanBackgroundEnergy = alpha * s.meanBackgroundEnergy + (1.0f - alpha) * ef;
        s.meanBackgroundLowEnergy = alpha * s.meanBackgroundLowEnergy + (1.0f - alpha) * f.lowEnergy;
        s.meanZeroCrossing = beta * s.meanZeroCrossing + (1.0f - beta) * f.zeroCrossing;
        for (int i = 0; i < kOrder; ++i) s.meanLsf[i] = gamma * s.meanLsf[i] + (1.0f - gamma) * f.lsf[i];
    }
    // The background level never sinks below the tracked minimum.
    if (n > 64 && s.meanBackgroundEnergy < s.minimum && sd < kBackgroundDistance) {
        s.meanBackgroundEnergy = s.minimum;
        s.updateCount = 0;
    }
    // This frame's energy and decision become the history of the next.
    s.previousEnergy = ef;
    s.decisionBefore = s.previousDecision;
    s.previousDecision = active;
    // Keeps n mod 4 and n > 64 right for streams of any length.
    if (s.frame >= 0x40000000u) s.frame -= 0x20000000u;
    return active;
}

} // namespace vntr::vt15
