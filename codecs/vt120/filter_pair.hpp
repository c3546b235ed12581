// Two all-pole filters with the same coefficients run side by side, each
// sample computed exactly as dsp::AllPoleFilter computes it.  The recursion
// is a chain of dependent sums, so one filter leaves the core mostly idle;
// with SSE2 the two filters are the two low lanes of one register and take
// the time of one, every lane making the same products and differences in
// the same order as the plain loop (the same outputs to the last bit).
#pragma once

#include <vntr/dsp/filters.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vntr::vt120 {

//   in x0, x1 [length] (each may alias its y)     in a [Order]
//   in/out y0, y1 [-Order .. length-1] (history in front)
template <int Order>
inline void AllPolePair(const float *x0, float *y0, const float *x1, float *y1, const float *a, int length) {
#if defined(__SSE2__)
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
    dsp::AllPoleFilter(x0, a, Order, y0, length);
    dsp::AllPoleFilter(x1, a, Order, y1, length);
#endif
}

} // namespace vntr::vt120
