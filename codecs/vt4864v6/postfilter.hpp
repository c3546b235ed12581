// The decoder's adaptive post-filter: short-term formant filter
// A(z/0.55)/A(z/0.7) split around a fractional-lag pitch post-filter, spectral
// tilt compensation and automatic gain control, then conversion to 16 bits.
#pragma once

#include "rate_mode.hpp"

#include <vntr/dsp/postfilter.hpp>

#include <cstdint>

namespace vntr::vt4864v6 {

using dsp::kPostResidualHistory;
using dsp::PostFilterState;
using dsp::ResetPostFilter;

// The coder's settings of the shared post-filter: its fractional-delay
// tables, a 30-sample response for the tilt, the pitch gate's edges.
extern const dsp::PostFilterConfig kPostFilterConfig;

// Post-filters one frame of synthesized speech.
//   in  speech [kFrameLength], lags [subframes], lpc [subframes][kOrder]
//   out out [kFrameLength]
void PostFilter(PostFilterState &state, const float *speech, const int *lags, const float (*lpc)[kOrder],
                const RateMode &mode, float *out);

// One sub-frame of the pitch post-filter on the formant residual r (with
// kPostResidualHistory samples of history in front), decoded lag 18..145.
//   in  r [-kPostResidualHistory .. length-1]     out out [length]
void PitchPostFilter(const float *r, int lag, int length, float *out);

// The output rule: above 32767 gives 32767, below -32767 gives -32768,
// anything else is truncated toward zero (a NaN gives 0).
int16_t OutputSample(float x);

} // namespace vntr::vt4864v6
