// The inner part of the pulse search (pulse_search.cpp): the tables it reads,
// by track and place, and the walk over the 4096 sets, plain, in SSE2 and in
// AVX2.  All walks visit the same rows, score every set with the same
// operations in the same order and so take the same sets; the SSE2 one makes
// a row's sums four lanes at a time, the AVX2 one holds a row (the eight
// placings of pulse 3) and the row bounds in one register each.
#pragma once

#include "constants.hpp"

#include <vntr/dsp/simd.hpp>

namespace vntr::vt120::pulses {

constexpr int kTrack = kSubframeLength / kPulses; // places per track

// Those that rows read from a rotated start are kept twice over (index 0..15);
// the cross terms of pulses 2 and 3 by (t2, m3) and doubled.
struct Tables {
    float d0[kTrack], d1[kTrack];
    alignas(32) float d2[2 * kTrack];
    alignas(32) float d3[2 * kTrack];
    alignas(32) float self2[kTrack];
    alignas(32) float self3[kTrack];
    float self0[kTrack], self1[kTrack];
    float phi01[kTrack][kTrack];
    alignas(32) float phi02[kTrack][kTrack];
    alignas(32) float phi03[kTrack][kTrack];
    alignas(32) float phi12[kTrack][kTrack];
    alignas(32) float phi13[kTrack][kTrack];
    alignas(32) float cross23[kTrack][kTrack]; // 2 Phi(4 t2 + 2, 4 ((t2 + m3) mod 8) + 3)
    alignas(32) float minCross[2 * kTrack];    // the least of each cross23 row
    float maxD3;                               // the largest d3
    float floor;                               // only a set with c^2 / e above this is taken (0: any)
};

// The codes k0, m1, m2, m3 of the set the search takes; bestCode is left as
// it was when no set scores above the floor.  The plain walk (pulse_sets.cpp).
void SearchSets(const Tables &t, int *bestCode);

// The same walk with SSE2 (pulse_sets.cpp) and with AVX2 (pulse_sets_avx2.cpp,
// only when dsp::DetectSimd() gives Simd::Avx2): the same sets to the bit.
#if defined(VNTR_SIMD_SSE2)
namespace sse2 {
void SearchSets(const Tables &t, int *bestCode);
} // namespace sse2
#endif
#if defined(VNTR_SIMD_AVX2)
namespace avx2 {
void SearchSets(const Tables &t, int *bestCode);
} // namespace avx2
#endif

// The walk of the widest kind up to `simd` this build has.
void SearchSets(dsp::Simd simd, const Tables &t, int *bestCode);

} // namespace vntr::vt120::pulses
