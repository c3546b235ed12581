// Direct-form filters over buffers that carry their own history: the sample
// before x[0] is x[-1], and so on.  Keeping history in front of the signal
// (instead of a separate memory array) lets a caller run a filter over several
// blocks of one buffer with no copying.
#pragma once

namespace vntr::dsp {

// y[n] = x[n] + sum_{i=1}^{order} b[i-1] x[n-i]  (the FIR A(z)), n = 0..length-1.
//   in  x [-order .. length-1]     in b [order]     out y [length] (may not alias x)
inline void FirFilter(const float *x, const float *b, int order, float *y, int length) {
    for (int n = 0; n < length; ++n) {
        float acc = x[n];
        for (int i = 1; i <= order; ++i) acc += b[i - 1] * x[n - i];
        y[n] = acc;
    }
}

// y[n] = x[n] - sum_{i=1}^{order} a[i-1] y[n-i]  (the all-pole 1/A(z)).
//   in  x [length]     in a [order]     in/out y [-order .. length-1] (history in front)
// x may alias y.  The terms of y[n-2] and older are summed in two chains
// before the newest output enters, which keeps the loop-carried dependency to
// one multiply-add per sample.
inline void AllPoleFilter(const float *x, const float *a, int order, float *y, int length) {
    for (int n = 0; n < length; ++n) {
        float even = x[n];
        float odd = 0.0f;
        int i = 2;
        for (; i + 1 <= order; i += 2) {
            even -= a[i - 1] * y[n - i];
            odd -= a[i] * y[n - i - 1];
        }
        if (i <= order) even -= a[i - 1] * y[n - i];
        y[n] = (even + odd) - a[0] * y[n - 1];
    }
}

// Impulse response of B(z)/A(z) from zero state, both monic.
//   in  b [order], a [order]     out h [length]
void PoleZeroImpulseResponse(const float *b, const float *a, int order, float *h, int length);

} // namespace vntr::dsp
