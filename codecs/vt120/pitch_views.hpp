// The predictor statistics of the three candidate lags of the closed-loop
// pitch search.  Where no candidate's extended vector repeats its period
// (lags from 34 on), the vector of lag T + 1 is that of lag T one sample
// later, so view j of lag T + 1 is view j - 1 of lag T: the three lags share
// seven filtered views, and their 60 correlations come from 32 distinct ones.
#pragma once

#include "constants.hpp"

#include <vntr/dsp/pitch_predictor.hpp>
#include <vntr/dsp/simd.hpp>

namespace vntr::vt120 {

using dsp::Simd;

// stats[c] = the statistics dsp::FilterPredictorViews gives for lag first + c
// (the same to the last bit), c = 0..2.
//   in  history [kExcitationHistory] (newest last), first 18..143,
//       h [kSubframeLength], target [kSubframeLength]
void CandidateStatistics(const float *history, const float *h, const float *target, int first,
                         dsp::PredictorStatistics *stats, Simd simd = Simd::Sse2);

// The sums of the seven shared views z[s](n) = sum_{i<=n} h(i) w(s + n - i):
// each with the target, each with itself, and each pair less than five apart.
constexpr int kSharedViews = dsp::kPredictorTaps + 2;
struct ViewSums {
    float correlation[kSharedViews];
    float energy[kSharedViews];
    float cross[kSharedViews][kSharedViews]; // [s][t], 0 < s - t < 5
};

// The sums, each dsp::Dot of the views CandidateStatistics makes.
//   in  w [38], h [kSubframeLength], target [kSubframeLength]
void SharedViewSums(const float *w, const float *h, const float *target, ViewSums &sums);

#if defined(VNTR_SIMD_AVX2)
namespace avx2 {
// The same sums to the bit with AVX2 (pitch_views_avx2.cpp); call only when
// dsp::DetectSimd() gives Simd::Avx2.
void SharedViewSums(const float *w, const float *h, const float *target, ViewSums &sums);
} // namespace avx2
#endif

} // namespace vntr::vt120
