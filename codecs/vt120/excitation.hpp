// The excitation model both sides run, so that the encoder's excitation
// history stays the decoder's: the 5-tap pitch predictor over the 36-sample
// extended vector, and four signed pulses of one amplitude.
#pragma once

#include "constants.hpp"
#include "tables.hpp"

#include <vntr/dsp/simd.hpp>

namespace vntr::vt120 {

using dsp::Simd;

// v(n) = sum_k b_k u(n + k), n = 0..31, with u the extended vector of lag T
// (u(0) = e(-T-2), u(1) = e(-T-1), u(2 + j) = e(-T + (j mod T))) and b the
// predictor entry (its low 7 bits).
//   in  history [kExcitationHistory] (newest last), lag 18..146     out v [kSubframeLength]
void AdaptiveVector(const float *history, int lag, int entry, float *v,
                    const dsp::PredictorCodebook &codebook = kPredictorCodebook, Simd simd = Simd::Sse2);

// The amplitude of an amplitude field.  Only the low 5 bits count: the sixth
// is 0 in every frame the encoder writes, so a set sixth bit is taken for a
// transmission error in that bit alone and ignored.
float AmplitudeOf(int amplitudeField);

// Adds +A (sign bit j set) or -A at the position of pulse j, j = 0..3.
//   in/out x [kSubframeLength]
void AddPulses(float *x, int positionWord, int signs, float amplitude);

// y = h * x over the sub-frame, each y(n) summed from +0 over i = 0..n in
// turn (h(i) x(n - i)).  Every output is built in its own lane, tap by tap
// over a zero-padded copy of x: the taps beyond n add products of zero,
// which leave a sum as it was, so the result is the plain sum's to the bit.
//   in h [kSubframeLength], x [kSubframeLength]     out y [kSubframeLength]
void ConvolveSubframe(const float *h, const float *x, float *y);

// Shifts the history left by one sub-frame and appends x.
void PushExcitation(float *history, const float *x);

} // namespace vntr::vt120
