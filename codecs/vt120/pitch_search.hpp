// The closed-loop pitch search: three lags around a centre times the 128
// predictor entries, every pair scored from the five correlations and the
// fifteen inner products of the lag's filtered views (no candidate is
// filtered on its own).
#pragma once

#include "constants.hpp"
#include "tables.hpp"

#include <vntr/dsp/pitch_predictor.hpp>
#include <vntr/dsp/simd.hpp>

namespace vntr::vt120 {

using dsp::Simd;

constexpr int kPitchCandidates = 3;

// The centre clamped to 19..144, so that every candidate lies in 18..145.
int ClampPitchCentre(int centre);

struct PitchChoice {
    int lag;
    int entry;
    // Statistics of the candidates centre - 1, centre, centre + 1 (for the
    // training of the predictor codebook), and the candidate chosen.
    dsp::PredictorStatistics statistics[kPitchCandidates];
    int candidate;
};

// Entries are visited in index order and, within an entry, the lags in
// increasing order; a pair replaces the best only when it scores strictly
// higher (from -3e38), so the all-zero entry 0 at centre - 1 wins ties.
// Every kind of `simd` makes the same choice.
//   in  history [kExcitationHistory], h [kSubframeLength] (the cascade's
//       impulse response), target [kSubframeLength]
PitchChoice SearchPitch(const float *history, const float *h, const float *target, int centre,
                        const dsp::PredictorCodebook &codebook, Simd simd = Simd::Sse2);

} // namespace vntr::vt120
