// The decoder's fixed tables.
#pragma once

#include "frame_classes.hpp"

#include <array>

namespace vntr::vt15 {

constexpr int kShapingTaps = 33; // band filters, symmetric about tap 16
constexpr int kDispersionTaps = 65;

using BandFilterBank = std::array<std::array<float, kShapingTaps>, kBands>;

// The five band filters of the synthesis: low-pass 0-500 Hz, band-pass
// 500-1000, 1000-2000, 2000-3000 Hz, high-pass 3000-4000 Hz; together close
// to a unit impulse.
extern const BandFilterBank kBandFilters;

// Pulse-dispersion filter of unit energy, and the same taps last to first
// (so that an output sample is one inner product with the input history).
extern const std::array<float, kDispersionTaps> kDispersionFilter;
extern const std::array<float, kDispersionTaps> kDispersionFilterReversed;

} // namespace vntr::vt15
