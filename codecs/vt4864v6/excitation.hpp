// Excitation rules shared by the encoder and the decoder, so that both build
// the same excitation: the 5-tap pitch predictor over the past excitation and
// the seven signed pulses of one amplitude.
#pragma once

#include "rate_mode.hpp"
#include "tables.hpp"

#include <cstdint>

namespace vntr::vt4864v6 {

using dsp::kExcitationLimit;

// The last `lag` past samples repeated, with the two samples beyond the lag in
// front: v[0] = past(145 - T), v[1] = past(146 - T), v[2 + m] = past(147 - T + m mod T).
//   in  past [kPastExcitation], lag 18..145     out v [length + 4]
void BuildExtendedVector(const float *past, int lag, int length, float *v);

// e(n) = sum_j b_j v(n + j) with predictor entry `entry`.
//   in  past [kPastExcitation]     out e [length]
void BuildPitchExcitation(const float *past, int lag, int entry, int length, float *e,
                          const PredictorCodebook &codebook = kPredictorCodebook);

// Positions of the seven pulses from the position word.
void PulsePositions(uint32_t positionWord, const RateMode &mode, int positions[kPulses]);

// Adds the pulses (+gain where the sign bit is set, -gain otherwise) to e.
//   in/out e [mode.subframeLength]
void AddPulses(float *e, uint32_t signsWord, uint32_t positionWord, int gainIndex, const RateMode &mode);

// Holds every sample within +-kExcitationLimit.
using dsp::LimitExcitation;

// Shifts the past excitation left by `length` and appends e.
void UpdatePastExcitation(float *past, const float *e, int length);

} // namespace vntr::vt4864v6
