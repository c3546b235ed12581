// Pitch analysis of the perceptually weighted speech that the CELP encoders
// share: the open-loop lag and the harmonic noise weighting around it.
#pragma once

#include <vntr/dsp/simd.hpp>

namespace vntr::dsp {

constexpr int kMaxOpenLoopLags = 160;

// Open-loop lag of the block `cur` (minLag..maxLag, maxLag - minLag < kMaxOpenLoopLags):
// the lag of the largest c(L)^2 / E(L) among c(L) > 0, c the correlation of
// the block with the signal L samples earlier and E the energy of that
// earlier block.  Starting from score 0 at minLag, a lag replaces the best
// when it scores higher and either lies less than 18 above the best lag or
// scores more than 1.333 times as high: a lag far beyond the best may be a
// multiple of the period and must be clearly better.
// With Simd::Avx2 (only where the processor has it) the correlations are
// summed eight lags a register; the lag is the same.
//   in  cur [-maxLag .. length-1]
int OpenLoopPitch(const float *cur, int length, int minLag, int maxLag, Simd simd = Simd::Plain);

// The correlations c(L) that OpenLoopPitch compares, longest lag first:
// k[j] = sum_n cur(n) cur(n - (maxLag - j)), the terms added from +0 in the
// order of n (the same to the bit either way).
//   in  cur [-maxLag .. length-1]     out k [maxLag - minLag + 1]
void OpenLoopCorrelations(const float *cur, int length, int minLag, int maxLag, Simd simd, float *k);

struct HarmonicWeighting {
    int lag;    // -1 when no lag correlates positively
    float gain; // 0..0.3125
};

// Harmonic noise weighting: among the lags openLoopLag-3 .. openLoopLag+3 the
// one of the largest c^2/E with c > 0 (the first on ties); its gain is 0 when
// that score is below 0.375 times the block's energy, else 0.3125 when c >= E
// and 0.3125 c/E otherwise.  Writes the shaped block t0(n) = x(n) - g x(n - lag).
//   in  cur [-(openLoopLag + 3) .. length-1]     out t0 [length]
HarmonicWeighting HarmonicNoiseWeighting(const float *cur, int length, int openLoopLag, float *t0);

} // namespace vntr::dsp
