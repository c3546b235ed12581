// Butterworth filters designed by the bilinear transform, with the band
// edges pre-warped so that the digital filter is 3 dB down exactly at them,
// and run as cascades of second-order sections (which keeps the narrow
// low-frequency bands well conditioned in single precision).
#pragma once

#include <complex>

namespace vntr::dsp {

constexpr int kMaxSosSections = 8;

// One section: y = b0 x + b1 x[-1] + b2 x[-2] - a1 y[-1] - a2 y[-2].
struct Biquad {
    float b0, b1, b2, a1, a2;
};

struct SosFilter {
    int sections;
    Biquad section[kMaxSosSections];
};

// Two state words per section (transposed direct form II).
struct SosState {
    float s1[kMaxSosSections];
    float s2[kMaxSosSections];
};

enum class FilterBand { LowPass, HighPass, BandPass };

// Designs a Butterworth filter of `order` poles for `sampleRate` Hz.
//   LowPass / HighPass: 3 dB point `edge1`; order even, 2..2*kMaxSosSections.
//   BandPass: 3 dB points edge1 < edge2, from a prototype of order/2 poles
//   (so order is even and the numerator is (1 - z^-2)^(order/2)).
// The pass-band gain is 1: at DC, at the Nyquist frequency, or at the
// band's centre (the bilinear image of the geometric mean of the warped edges).
SosFilter DesignButterworth(FilterBand band, int order, double edge1, double edge2, double sampleRate);

// Frequency response at `omega` radians per sample.
std::complex<double> SosResponse(const SosFilter &filter, double omega);

// Filters `length` samples, in may alias out.
//   in x [length]     in/out state     out y [length]
void SosRun(const SosFilter &filter, SosState &state, const float *x, float *y, int length);

} // namespace vntr::dsp
