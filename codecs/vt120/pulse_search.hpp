// The fixed-codebook search: four signed pulses, one per track, over all
// 8 x 8 x 8 x 8 = 4096 sets, each scored incrementally from the backward-
// filtered target d and the correlations Phi of the filtered unit pulses.
#pragma once

#include "constants.hpp"

#include <vntr/dsp/simd.hpp>

namespace vntr::vt120 {

using dsp::Simd;

struct PulseChoice {
    int positionWord; // four 3-bit codes
    int signs;        // bit j set when pulse j is positive
    int position[kPulses];
    float sign[kPulses]; // +1 or -1
};

// Each position's sign is fixed in advance as the sign of d (positive at 0);
// the set with the largest (sum |d|)^2 / (energy of the filtered signed
// pulses) wins, a later set only when strictly larger (so with d all 0 the
// first set, pulses at 0, 1, 2, 3).
//   in  target [kSubframeLength] (pitch contribution removed), h [kSubframeLength]
// Every kind of `simd` takes the same set.
PulseChoice SearchPulses(const float *target, const float *h, Simd simd = Simd::Sse2);

// The same search taking only a set whose (sum |d|)^2 / energy exceeds
// `floor` (> 0): the drop in squared error its best unquantised amplitude
// would bring.  False, and `choice` untouched, when no set does; otherwise
// the set SearchPulses takes.  The tuned encoder passes what a candidate
// must gain to beat the best candidate so far, so that most rows of a
// losing candidate are passed over.  A seedReach above 0 first scores the
// set of each track's largest |d|: when that score times seedReach does not
// clear the floor, the search gives up (false) without walking, since the
// best set seldom scores that far above the seed; when the seed clears the
// floor its score becomes the floor, so that the walk passes over every row
// that cannot beat it, and the seed stands when none does (the same score as
// SearchPulses' set, though on a tie perhaps another set).
bool SearchPulsesAbove(const float *target, const float *h, float floor, Simd simd, PulseChoice &choice,
                       float seedReach = 0.0f);

// The filtered unit pulses of a choice: z = h * c.
//   out z [kSubframeLength]
void FilterPulses(const PulseChoice &choice, const float *h, float *z);

} // namespace vntr::vt120
