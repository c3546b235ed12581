// The ten line spectral frequencies (radians, increasing in 0..pi): the
// decoder's rebuilding from indices, the encoder's sequential quantiser, the
// subframe interpolation and the conversion to predictor coefficients.
#pragma once

#include "tables.hpp"

#include <array>

namespace vntr::vt48 {

using Lsf = std::array<float, kOrder>;

// (2i + 1) pi / 20: the evenly spaced set both sides start from.
Lsf InitialLsf();

// The value of odd LSF 2k+1 for index j between its neighbours lo and hi.
float OddLsfValue(int k, int index, float lo, float hi);

// Rebuilds the set from the ten indices (masked to their widths): even LSFs
// from their tables, odd LSFs between their decoded neighbours (pi above LSF 9).
Lsf DecodeLsf(const std::array<uint16_t, kOrder> &index, const EvenLsfTables &tables = kEvenLsf);

// True when no LSF is greater than the next one (equal neighbours pass).
bool IsOrdered(const Lsf &lsf);

// The encoder's quantiser, in its order: LSF 0 to the nearest entry; LSFs 2,
// 4, 6, 8 to the nearest entry strictly above the larger of the unquantised
// odd LSF and the quantised even LSF below (the last entry when none is);
// then each odd LSF to the nearest of its candidates between its quantised
// neighbours.  Ties take the lower index.  Writes the indices and returns the
// quantised set, which is always increasing.
Lsf QuantiseLsf(const Lsf &lsf, std::array<uint16_t, kOrder> &index, const EvenLsfTables &tables = kEvenLsf);

// The three subframe predictors: (2 previous + current)/3, (previous + 2 current)/3, current.
void SubframePredictors(const Lsf &previous, const Lsf &current, float a[kSubframes][kOrder]);

} // namespace vntr::vt48
