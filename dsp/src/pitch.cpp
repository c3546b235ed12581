#include <vntr/dsp/pitch.hpp>
#include <vntr/dsp/vector.hpp>

#include <algorithm>
#include <cmath>

namespace vntr::dsp {
namespace {

// c(i, j) over the window.
float Cross(const float *x, int window, int i, int j) {
    return Dot(x - i, x - j, window);
}

// The interpolated strength from the six inner products at T and T+1.
float InterpolatedStrength(float c00, float c0T, float c0T1, float cTT, float cTT1, float cT1T1, float d) {
    const float e = 1.0f - d;
    const float energy = c00 * (e * e * cTT + 2.0f * d * e * cTT1 + d * d * cT1T1);
    const float root = energy > 0.0f ? std::sqrt(energy) : 0.0f;
    if (root <= 0.01f) return 0.0f;
    return (e * c0T + d * c0T1) / root;
}

} // namespace

PitchEstimate IntegerPitch(const float *x, int window, int minLag, int maxLag) {
    const float c00 = Dot(x, x, window);
    // c(T,T) slides one sample per lag; kept in double so that 120 updates add no drift.
    double cTT = Dot(x - maxLag, x - maxLag, window);
    PitchEstimate best{static_cast<float>(maxLag), 0.0f};
    float bestScore = 0.0f;
    for (int lag = maxLag; lag >= minLag; --lag) {
        if (lag < maxLag) {
            const double leaving = x[-lag - 1];
            const double entering = x[window - 1 - lag];
            cTT += entering * entering - leaving * leaving;
        }
        const float c0T = Dot(x, x - lag, window);
        if (c0T <= 0.01f) continue;
        const float denominator = c00 * static_cast<float>(cTT);
        if (denominator <= 0.0f) continue;
        const float score = c0T * c0T / denominator;
        if (score > bestScore) {
            bestScore = score;
            best.pitch = static_cast<float>(lag);
        }
    }
    best.strength = std::sqrt(bestScore);
    return best;
}

float PitchStrengthAt(const float *x, int window, float pitch) {
    const int t = static_cast<int>(std::floor(pitch));
    const float d = pitch - static_cast<float>(t);
    return InterpolatedStrength(Cross(x, window, 0, 0), Cross(x, window, 0, t), Cross(x, window, 0, t + 1),
                                Cross(x, window, t, t), Cross(x, window, t, t + 1), Cross(x, window, t + 1, t + 1), d);
}

PitchEstimate RefinePitch(const float *x, int window, float pitch, float range, float minPitch, float maxPitch) {
    const float c00 = Cross(x, window, 0, 0);
    const int lo = static_cast<int>(std::lround(std::max({pitch - range, minPitch, 0.75f * pitch})));
    const int hi = std::max(lo, static_cast<int>(std::lround(std::min(pitch + range, maxPitch))));
    int t = lo;
    float bestNorm = -2.0f;
    double energy = Cross(x, window, lo, lo); // c(lag, lag), slid one lag at a time
    for (int lag = lo; lag <= hi; ++lag) {
        if (lag > lo) {
            const double entering = x[-lag];
            const double leaving = x[window - lag];
            energy += entering * entering - leaving * leaving;
        }
        const float c0T = Cross(x, window, 0, lag);
        const float cTT = static_cast<float>(energy);
        const float denominator = std::sqrt(std::max(c00 * cTT, 0.0f));
        const float norm = denominator > 0.0f ? c0T / denominator : 0.0f;
        if (norm > bestNorm) {
            bestNorm = norm;
            t = lag;
        }
    }
    if (Cross(x, window, 0, t - 1) > Cross(x, window, 0, t + 1)) --t;
    const float c0T = Cross(x, window, 0, t);
    const float c0T1 = Cross(x, window, 0, t + 1);
    const float cTT = Cross(x, window, t, t);
    const float cTT1 = Cross(x, window, t, t + 1);
    const float cT1T1 = Cross(x, window, t + 1, t + 1);
    const float den = (cTT - cTT1) * c0T1 + (cT1T1 - cTT1) * c0T;
    float delta = std::fabs(den) <= 0.01f ? 0.5f : (cTT * c0T1 - cTT1 * c0T) / den;
    delta = std::clamp(delta, -1.0f, 2.0f);
    const float refined = std::clamp(static_cast<float>(t) + delta, minPitch, maxPitch);
    const float d = refined - static_cast<float>(t);
    return PitchEstimate{refined, InterpolatedStrength(c00, c0T, c0T1, cTT, cTT1, cT1T1, d)};
}

} // namespace vntr::dsp
