#include "pitch_views.hpp"

#include "pitch_search.hpp"

#include <vntr/dsp/vector.hpp>

namespace vntr::vt120 {
namespace {

constexpr int kLength = kSubframeLength;
constexpr int kTaps = dsp::kPredictorTaps;
// The shortest lag whose extended vector (36 samples) does not wrap round.
constexpr int kContiguousLag = kAdaptiveLength - 2;

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

void SharedViewSums(const float *w, const float *h, const float *target, ViewSums &sums) {
    float z[kSharedViews][kLength] = {};
    for (int i = 0; i < kLength; ++i) dsp::Axpy(h[i], w + kSharedViews - 1, z[kSharedViews - 1] + i, kLength - i);
    for (int s = kSharedViews - 2; s >= 0; --s) {
        z[s][0] = h[0] * w[s];
        for (int n = 1; n < kLength; ++n) z[s][n] = z[s + 1][n - 1] + h[n] * w[s];
    }
    for (int s = 0; s < kSharedViews; ++s) {
        sums.correlation[s] = dsp::Dot(target, z[s], kLength);
        sums.energy[s] = dsp::Dot(z[s], z[s], kLength);
        for (int t = s - kTaps + 1 < 0 ? 0 : s - kTaps + 1; t < s; ++t)
            sums.cross[s][t] = dsp::Dot(z[s], z[t], kLength);
    }
}

void CandidateStatistics(const float *history, const float *h, const float *target, int first,
                         dsp::PredictorStatistics *stats, Simd simd) {
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
    ViewSums sums;
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2)
        avx2::SharedViewSums(w, h, target, sums);
    else
        SharedViewSums(w, h, target, sums);
#else
    (void)simd;
    SharedViewSums(w, h, target, sums);
#endif
    for (int c = 0; c < kPitchCandidates; ++c) {
        const int base = 2 - c;
        dsp::PredictorStatistics &st = stats[c];
        int pair = 0;
        for (int j = 0; j < kTaps; ++j) {
            st.c[j] = sums.correlation[base + j];
            st.e[j] = sums.energy[base + j];
            for (int k = 0; k < j; ++k) st.x[pair++] = sums.cross[base + j][base + k];
        }
    }
}

} // namespace vntr::vt120
