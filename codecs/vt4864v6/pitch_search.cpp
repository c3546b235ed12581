#include "pitch_search.hpp"

#include "excitation.hpp"
#include "bitstream.hpp"

#include <vntr/dsp/vector.hpp>

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
    // Correlations of all lags at once, longest lag first: k[j] is lag 142 - j.
    constexpr int kLags = kOpenLoopMaxLag - kMinLag + 1;
    float k[kLags] = {};
    for (int n = 0; n < length; ++n) dsp::Axpy(cur[n], cur + n - kOpenLoopMaxLag, k, kLags);
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
        const float kt = k[kOpenLoopMaxLag - t];
        if (kt <= 0.0f || energy <= 0.0) continue;
        const double score = static_cast<double>(kt) * kt / energy;
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
    const float e0 = dsp::Dot(cur, cur, length);
    int bestLag = -1;
    float bestK = 0.0f;
    float bestE = 0.0f;
    double bestScore = 0.0;
    for (int d = openLoopLag - 3; d <= openLoopLag + 3; ++d) {
        const float k = dsp::Dot(cur, cur - d, length);
        const float e = dsp::Dot(cur - d, cur - d, length);
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
        const float k = dsp::Dot(target, view, length);
        const float e = dsp::Dot(view, view, length);
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
    float full[kMaxSubframeLength] = {};
    for (int i = 0; i < length; ++i) dsp::Axpy(h[i], v + 4, full + i, length - i);
    for (int n = 0; n < length; ++n) y[4][n] = full[n];
    for (int j = 3; j >= 0; --j) {
        y[j][0] = h[0] * v[j];
        for (int n = 1; n < length; ++n) y[j][n] = y[j + 1][n - 1] + h[n] * v[j];
    }
    PredictorStatistics stats{};
    for (int j = 0; j < kPredictorTaps; ++j) {
        stats.c[j] = dsp::Dot(target, y[j], length);
        stats.e[j] = dsp::Dot(y[j], y[j], length);
    }
    int pair = 0;
    for (int j = 1; j < kPredictorTaps; ++j) {
        for (int k = 0; k < j; ++k) stats.x[pair++] = dsp::Dot(y[j], y[k], length);
    }
    return stats;
}

namespace {

// The twenty statistics in the order of the codebook's derived rows.
void Flatten(const PredictorStatistics &stats, float *flat) {
    for (int j = 0; j < kPredictorTaps; ++j) {
        flat[j] = stats.c[j];
        flat[5 + j] = stats.e[j];
    }
    for (int p = 0; p < 10; ++p) flat[10 + p] = stats.x[p];
}

} // namespace

float PredictorScore(const PredictorStatistics &stats, const PredictorCodebook &codebook, int entry) {
    float flat[20];
    Flatten(stats, flat);
    float score = 0.0f;
    for (int k = 0; k < 20; ++k) score += codebook.search[k][entry] * flat[k];
    return score;
}

int SearchPredictor(const PredictorStatistics &stats, const PredictorCodebook &codebook) {
    // All entries at once, one statistic at a time.
    float flat[20];
    Flatten(stats, flat);
    float score[kPredictorEntries] = {};
    for (int k = 0; k < 20; ++k) dsp::Axpy(flat[k], codebook.search[k], score, kPredictorEntries);
    float best = -3e38f;
    int bestEntry = 0;
    for (int entry = 0; entry < kPredictorEntries; ++entry) {
        if (score[entry] > best) {
            best = score[entry];
            bestEntry = entry;
        }
    }
    return bestEntry;
}

} // namespace vntr::vt4864v6
