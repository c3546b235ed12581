// Direct-form filters over buffers that carry their own history: the sample
// before x[0] is x[-1], and so on.  Keeping history in front of the signal
// (instead of a separate memory array) lets a caller run a filter over several
// blocks of one buffer with no copying.
#pragma once

#include <vntr/dsp/simd.hpp>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

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

// Two all-pole filters with the same coefficients run side by side, each
// output exactly AllPoleFilter's (the plain form is the two filters one after
// the other).  The recursion is a chain of dependent sums, so one filter
// leaves the core mostly idle; with SSE2 the two filters are the two low
// lanes of one register and take the time of one, every lane making the same
// products and differences in the same order as AllPoleFilter.
//   in  x0, x1 [length] (each may alias its own y)     in a [Order]
//   in/out y0, y1 [-Order .. length-1] (history in front)
template <int Order>
inline void AllPolePair(const float *x0, float *y0, const float *x1, float *y1, const float *a, int length) {
#if defined(VNTR_SIMD_SSE2)
    // r[k] holds (y0[n-1-k], y1[n-1-k], 0, 0), kept in registers from sample to sample.
    __m128 r[Order];
    for (int k = 0; k < Order; ++k) r[k] = _mm_unpacklo_ps(_mm_load_ss(y0 - 1 - k), _mm_load_ss(y1 - 1 - k));
    __m128 coefficient[Order];
    for (int i = 0; i < Order; ++i) coefficient[i] = _mm_set1_ps(a[i]);
    for (int n = 0; n < length; ++n) {
        __m128 even = _mm_unpacklo_ps(_mm_load_ss(x0 + n), _mm_load_ss(x1 + n));
        __m128 odd = _mm_setzero_ps();
        int i = 2;
        for (; i + 1 <= Order; i += 2) {
            even = _mm_sub_ps(even, _mm_mul_ps(coefficient[i - 1], r[i - 1]));
            odd = _mm_sub_ps(odd, _mm_mul_ps(coefficient[i], r[i]));
        }
        if (i <= Order) even = _mm_sub_ps(even, _mm_mul_ps(coefficient[i - 1], r[i - 1]));
        const __m128 y = _mm_sub_ps(_mm_add_ps(even, odd), _mm_mul_ps(coefficient[0], r[0]));
        for (int k = Order - 1; k > 0; --k) r[k] = r[k - 1];
        r[0] = y;
        _mm_store_ss(y0 + n, y);
        _mm_store_ss(y1 + n, _mm_shuffle_ps(y, y, 1));
    }
#else
    AllPoleFilter(x0, a, Order, y0, length);
    AllPoleFilter(x1, a, Order, y1, length);
#endif
}

// Impulse response of B(z)/A(z) from zero state, both monic.
//   in  b [order], a [order]     out h [length]
void PoleZeroImpulseResponse(const float *b, const float *a, int order, float *h, int length);

} // namespace vntr::dsp
