// The choice of the closed-loop pitch search among 3 lags x 128 predictor
// entries, from each lag's statistics.  Pairs are visited entry by entry
// and, within an entry, lag by lag; a pair replaces the best only when it
// scores strictly higher (from -3e38), so the first pair of the highest
// score wins, and (0, 0) when none beats -3e38.
#pragma once

#include "pitch_search.hpp"

#include <vntr/dsp/simd.hpp>

namespace vntr::vt120 {

using dsp::Simd;

struct PredictorPair {
    int entry;
    int candidate;
};

// Each score summed as dsp::PredictorScores sums it.
PredictorPair BestPredictorPair(const dsp::PredictorStatistics *stats, const dsp::PredictorCodebook &codebook,
                                Simd simd);

#if defined(VNTR_SIMD_AVX2)
// The same with AVX2 (pitch_scores_avx2.cpp): eight entries a register, the
// three lags' scores from one load of each codebook row, the best kept lane
// by lane.  Call it only when dsp::DetectSimd() gives Simd::Avx2.
namespace avx2 {
PredictorPair BestPredictorPair(const dsp::PredictorStatistics *stats, const dsp::PredictorCodebook &codebook);
} // namespace avx2
#endif

} // namespace vntr::vt120
