#include "pitch_search.hpp"

#include "excitation.hpp"
#include "bitstream.hpp"

#include <cmath>

namespace vntr::vt4864v6 {

void InputFilter(InputFilterState &state, float *x, int length) {
    float previousInput = state.previousInput;
    float previousOutput = state.previousOutput;
    for (int n = 0; n < length; ++n) {
        const float scaled = 0.87f * x[n];
        const float y = scaled - previousInput + 0.98f * previousOutput;
        previousInput = scaled;
        previousOutput = y;
        x[n] = y;
    }
    state.previousInput = previousInput;
    state.previousOutput = previousOutput;
}

int OpenLoopPitch(const float *cur, int length) {
    // Energy of the delayed segment, updated from lag to lag; kept in double so
    // that the running update does not drift.
    double energy = 0.0;
    for (int n = 0; n < length; ++n) energy += static_cast<double>(cur[n - kMinLag]) * cur[n - kMinLag];
    double best = 0.0;
    int bestLag = kMinLag;
    for (int t = kMinLag; t <= kOpenLoopMaxLag; ++t) {
        if (t > kMinLag) {
            energy += static_cast<double>(cur[-t]) * cur[-t];
            energy -= static_cast<double>(cur[length - t]) * cur[length - t];
        }
        float k = 0.0f;
        for (int n = 0; n < length; ++n) k += cur[n] * cur[n - t];
        if (k <= 0.0f || energy <= 0.0) continue;
        const double score = static_cast<double>(k) * k / energy;
        if (score > best) {
            // A lag far beyond the best so far must be clearly better: it may be a multiple.
            if (t - bestLag < 18 || score > 1.333 * best) {
                best = score;
                bestLag = t;
            }
        }
    }
    return bestLag;
}

HarmonicWeighting HarmonicNoiseWeighting(const float *cur, int length, int openLoopLag, float *t0) {
    float e0 = 0.0f;
    for (int n = 0; n < length; ++n) e0 += cur[n] * cur[n];
    int bestLag = -1;
    float bestK = 0.0f;
    float bestE = 0.0f;
    double bestScore = 0.0;
    for (int d = openLoopLag - 3; d <= openLoopLag + 3; ++d) {
        float k = 0.0f;
        float e = 0.0f;
        for (int n = 0; n < length; ++n) {
            k += cur[n] * cur[n - d];
            e += cur[n - d] * cur[n - d];
        }
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

int DifferentialLagSearch(const float *past, const float *target, int length, int reference, int alignment) {
    const int centre = DifferentialCentre(reference);
    int bestLag = centre;
    double bestScore = 0.0;
    bool found = false;
    float v[kMaxSubframeLength + 4];
    for (int t = centre - 8; t <= centre + 7; ++t) {
        BuildExtendedVector(past, t, length, v);
        const float *view = v + alignment;
        float k = 0.0f;
        float e = 0.0f;
        for (int n = 0; n < length; ++n) {
            k += target[n] * view[n];
            e += view[n] * view[n];
        }
        if (k == 0.0f || e <= 0.0f) continue;
        const double score = static_cast<double>(k) * k / e;
        if (!found || score > bestScore) {
            found = true;
            bestScore = score;
            bestLag = t;
        }
    }
    if (bestLag == centre - 8) bestLag = centre - 7;
    if (bestLag == centre + 7) bestLag = centre + 6;
    return bestLag;
}

PredictorStatistics FilterPredictorViews(const float *v, const float *h, const float *target, int length,
                                         float (*y)[kMaxSubframeLength]) {
    // View 4 first, over the whole extended span; each lower view then follows
    // from the one above it: y_j(n) = y_{j+1}(n - 1) + h(n) v(j), with y_j(0) = h(0) v(j).
    float full[kMaxSubframeLength];
    for (int n = 0; n < length; ++n) {
        float acc = 0.0f;
        for (int i = 0; i <= n; ++i) acc += h[i] * v[n - i + 4];
        full[n] = acc;
    }
    for (int n = 0; n < length; ++n) y[4][n] = full[n];
    for (int j = 3; j >= 0; --j) {
        y[j][0] = h[0] * v[j];
        for (int n = 1; n < length; ++n) y[j][n] = y[j + 1][n - 1] + h[n] * v[j];
    }
    PredictorStatistics stats{};
    for (int j = 0; j < kPredictorTaps; ++j) {
        float c = 0.0f;
        float e = 0.0f;
        for (int n = 0; n < length; ++n) {
            c += target[n] * y[j][n];
            e += y[j][n] * y[j][n];
        }
        stats.c[j] = c;
        stats.e[j] = e;
    }
    int pair = 0;
    for (int j = 1; j < kPredictorTaps; ++j) {
        for (int k = 0; k < j; ++k) {
            float x = 0.0f;
            for (int n = 0; n < length; ++n) x += y[j][n] * y[k][n];
            stats.x[pair++] = x;
        }
    }
    return stats;
}

float PredictorScore(const PredictorStatistics &stats, const PredictorCodebook &codebook, int entry) {
    const float *row = codebook.search[entry];
    float score = 0.0f;
    for (int j = 0; j < kPredictorTaps; ++j) score += row[j] * stats.c[j] + row[5 + j] * stats.e[j];
    for (int p = 0; p < 10; ++p) score += row[10 + p] * stats.x[p];
    return score;
}

int SearchPredictor(const PredictorStatistics &stats, const PredictorCodebook &codebook) {
    float best = -3e38f;
    int bestEntry = 0;
    for (int entry = 0; entry < kPredictorEntries; ++entry) {
        const float score = PredictorScore(stats, codebook, entry);
        if (score > best) {
            best = score;
            bestEntry = entry;
        }
    }
    return bestEntry;
}

} // namespace vntr::vt4864v6
