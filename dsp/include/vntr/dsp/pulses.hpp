// Pieces of the pulse (fixed-codebook) searches of the CELP encoders.
#pragma once

namespace vntr::dsp {

constexpr int kMaxPulseSubframe = 80;

// d(n) = sum_{i=n}^{length-1} x(i) h(i - n): the target filtered backwards
// through the weighted synthesis response, i.e. the correlation of the target
// with the filtered unit pulse at n.
//   in  x [length], h [length] (length <= kMaxPulseSubframe)     out d [length]
void BackwardFilter(const float *x, const float *h, int length, float *d);

// The amplitude of a pulse vector f = h * c against the target t: the index
// of the level nearest to the optimal gain <t, f>/<f, f> in absolute
// difference (the lower index on ties), and 0 when <t, f> <= 0.
//   in  target [length], f [length], levels [count]
int QuantiseAmplitude(const float *target, const float *f, int length, const float *levels, int count);

} // namespace vntr::dsp
