#include "pitch_views.hpp"

#include "pitch_search.hpp"

#include <vntr/dsp/vector.hpp>

namespace vntr::vt120 {
namespace {

constexpr int kLength = kSubframeLength;
constexpr int kTaps = dsp::kPredictorTaps;
// The shortest lag whose extended vector (36 samples) does not wrap round.
constexpr int kContiguousLag = kAdaptiveLength - 2;
constexpr int kShifts = kTaps + kPitchCandidates - 1;

void EachOnItsOwn(const float *history, const float *h, const float *target, int first,
                  dsp::PredictorStatistics *stats) {
    for (int c = 0; c < kPitchCandidates; ++c) {
        float u[kAdaptiveLength];
        dsp::BuildExtendedVector(history + kExcitationHistory, first + c, kLength, u);
        float views[kTaps][dsp::kPredictorMaxLength];
        stats[c] = dsp::FilterPredictorViews(u, h, target, kLength, views);
    }
}

} // namespace

void CandidateStatistics(const float *history, const float *h, const float *target, int first,
                         dsp::PredictorStatistics *stats) {
    if (first < kContiguousLag) {
        EachOnItsOwn(history, h, target, first, stats);
        return;
    }
    // w(i) = e(i - first - 4): the vector of lag first + c is w from 2 - c on,
    // and its view j is z[j + 2 - c], z[s](n) = sum_{i<=n} h(i) w(s + n - i).
    const float *w = history + kExcitationHistory - first - 4;

    // z[6] as FilterPredictorViews makes view 4 (one whole signal at a time),
    // the lower ones by its recursion z[s](n) = z[s+1](n-1) + h(n) w(s).  A
    // view that FilterPredictorViews makes the other way may differ from its
    // z here in the sign of a zero, which no sum from +0 can see.
    float z[kShifts][kLength] = {};
    for (int i = 0; i < kLength; ++i) dsp::Axpy(h[i], w + kShifts - 1, z[kShifts - 1] + i, kLength - i);
    for (int s = kShifts - 2; s >= 0; --s) {
        z[s][0] = h[0] * w[s];
        for (int n = 1; n < kLength; ++n) z[s][n] = z[s + 1][n - 1] + h[n] * w[s];
    }

    float correlation[kShifts], energy[kShifts];
    float cross[kShifts][kShifts]; // [s][t], 0 < s - t < kTaps
    for (int s = 0; s < kShifts; ++s) {
        correlation[s] = dsp::Dot(target, z[s], kLength);
        energy[s] = dsp::Dot(z[s], z[s], kLength);
        for (int t = s - kTaps + 1 < 0 ? 0 : s - kTaps + 1; t < s; ++t) cross[s][t] = dsp::Dot(z[s], z[t], kLength);
    }
    for (int c = 0; c < kPitchCandidates; ++c) {
        const int base = 2 - c;
        dsp::PredictorStatistics &st = stats[c];
        int pair = 0;
        for (int j = 0; j < kTaps; ++j) {
            st.c[j] = correlation[base + j];
            st.e[j] = energy[base + j];
            for (int k = 0; k < j; ++k) st.x[pair++] = cross[base + j][base + k];
        }
    }
}

} // namespace vntr::vt120
