#include <vntr/dsp/pitch_analysis.hpp>
#include <vntr/dsp/vector.hpp>

namespace vntr::dsp {

int OpenLoopPitch(const float *cur, int length, int minLag, int maxLag) {
    // Correlations of all lags at once, longest lag first: k[j] is lag maxLag - j.
    const int lags = maxLag - minLag + 1;
    float k[kMaxOpenLoopLags] = {};
    for (int n = 0; n < length; ++n) Axpy(cur[n], cur + n - maxLag, k, lags);
    // Energy of the delayed block, updated from lag to lag; kept in double so
    // that the running update does not drift.
    double energy = 0.0;
    for (int n = 0; n < length; ++n) energy += static_cast<double>(cur[n - minLag]) * cur[n - minLag];
    double best = 0.0;
    int bestLag = minLag;
    for (int t = minLag; t <= maxLag; ++t) {
        if (t > minLag) {
            energy += static_cast<double>(cur[-t]) * cur[-t];
            energy -= static_cast<double>(cur[length - t]) * cur[length - t];
        }
        const float kt = k[maxLag - t];
        if (kt <= 0.0f || energy <= 0.0) continue;
        const double score = static_cast<double>(kt) * kt / energy;
        if (score > best) {
            if (t - bestLag < 18 || score > 1.333 * best) {
                best = score;
                bestLag = t;
            }
        }
    }
    return bestLag;
}

HarmonicWeighting HarmonicNoiseWeighting(const float *cur, int length, int openLoopLag, float *t0) {
    const float e0 = Dot(cur, cur, length);
    int bestLag = -1;
    float bestK = 0.0f;
    float bestE = 0.0f;
    double bestScore = 0.0;
    for (int d = openLoopLag - 3; d <= openLoopLag + 3; ++d) {
        const float k = Dot(cur, cur - d, length);
        const float e = Dot(cur - d, cur - d, length);
        if (k <= 0.0f || e <= 0.0f) continue;
        const double score = static_cast<double>(k) * k / e;
        if (bestLag < 0 || score > bestScore) {
            bestLag = d;
            bestScore = score;
            bestK = k;
            bestE = e;
        }
    }
    HarmonicWeighting hw{-1, 0.0f};
    if (bestLag >= 0) {
        hw.lag = bestLag;
        if (0.375 * e0 <= bestScore) hw.gain = bestK >= bestE ? 0.3125f : 0.3125f * bestK / bestE;
    }
    for (int n = 0; n < length; ++n) t0[n] = hw.lag >= 0 ? cur[n] - hw.gain * cur[n - hw.lag] : cur[n];
    return hw;
}

} // namespace vntr::dsp
