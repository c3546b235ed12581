// The predictor statistics of the three candidate lags of the closed-loop
// pitch search.  Where no candidate's extended vector repeats its period
// (lags from 34 on), the vector of lag T + 1 is that of lag T one sample
// later, so view j of lag T + 1 is view j - 1 of lag T: the three lags share
// seven filtered views, and their 60 correlations come from 32 distinct ones.
#pragma once

#include "constants.hpp"

#include <vntr/dsp/pitch_predictor.hpp>

namespace vntr::vt120 {

// stats[c] = the statistics dsp::FilterPredictorViews gives for lag first + c
// (the same to the last bit), c = 0..2.
//   in  history [kExcitationHistory] (newest last), first 18..143,
//       h [kSubframeLength], target [kSubframeLength]
void CandidateStatistics(const float *history, const float *h, const float *target, int first,
                         dsp::PredictorStatistics *stats);

} // namespace vntr::vt120
