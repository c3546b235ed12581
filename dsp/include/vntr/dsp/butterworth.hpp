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

// Up to eight filters of equal section count run side by side over one
// input, each exactly as SosRun would run it, the filters in the lanes of
// one vector.
constexpr int kSosBankLanes = 8;

struct SosBank {
    int filters;
    int sections;
    float b0[kMaxSosSections][kSosBankLanes];
    float b1[kMaxSosSections][kSosBankLanes];
    float b2[kMaxSosSections][kSosBankLanes];
    float a1[kMaxSosSections][kSosBankLanes];
    float a2[kMaxSosSections][kSosBankLanes];
};

struct SosBankState {
    float s1[kMaxSosSections][kSosBankLanes];
    float s2[kMaxSosSections][kSosBankLanes];
};

// filters [count], count <= kSosBankLanes, all with the same section count.
SosBank MakeSosBank(const SosFilter *filters, int count);

// y[f] receives filter f's output.
//   in x [length]     out y[f] [length]
void SosBankRun(const SosBank &bank, SosBankState &state, const float *x, float *const *y, int length);

} // namespace vntr::dsp
