// Small vector kernels written so that the compiler can keep several sums in
// flight (and in SIMD registers) without reassociating floating point itself.
#pragma once

#include <vntr/dsp/simd.hpp>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::dsp {

// sum_{n<length} x[n] y[n], accumulated in eight interleaved partial sums.
inline float Dot(const float *x, const float *y, int length) {
    float acc[8] = {};
    int n = 0;
    for (; n + 8 <= length; n += 8) {
        for (int k = 0; k < 8; ++k) acc[k] += x[n + k] * y[n + k];
    }
    float tail = 0.0f;
    for (; n < length; ++n) tail += x[n] * y[n];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7])) + tail;
}

// sum_{n<length} x[n] y[n] in double precision, where every product of two
// single-precision values is exact: for choices between candidates whose
// scores may lie a few parts per million apart, which then come out the same
// whatever order the terms are added in.  Four partial sums, term n going to
// sum n mod 4, combined as ((s0 + s2) + (s1 + s3)) + tail; with SSE2 the sums
// are the lanes of two registers, which adds the same numbers in the same
// order as the plain loop (the plain loop stays for other targets).
#if defined(VNTR_SIMD_SSE2)
inline double DotDouble(const float *x, const float *y, int length) {
    __m128d low = _mm_setzero_pd();  // sums 0 and 1
    __m128d high = _mm_setzero_pd(); // sums 2 and 3
    int n = 0;
    for (; n + 4 <= length; n += 4) {
        const __m128 xf = _mm_loadu_ps(x + n);
        const __m128 yf = _mm_loadu_ps(y + n);
        low = _mm_add_pd(low, _mm_mul_pd(_mm_cvtps_pd(xf), _mm_cvtps_pd(yf)));
        high = _mm_add_pd(high, _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(xf, xf)), _mm_cvtps_pd(_mm_movehl_ps(yf, yf))));
    }
    double tail = 0.0;
    for (; n < length; ++n) tail += static_cast<double>(x[n]) * y[n];
    const __m128d pairs = _mm_add_pd(low, high);
    return (_mm_cvtsd_f64(pairs) + _mm_cvtsd_f64(_mm_unpackhi_pd(pairs, pairs))) + tail;
}
#else
inline double DotDouble(const float *x, const float *y, int length) {
    double acc[4] = {};
    int n = 0;
    for (; n + 4 <= length; n += 4) {
        for (int k = 0; k < 4; ++k) acc[k] += static_cast<double>(x[n + k]) * y[n + k];
    }
    double tail = 0.0;
    for (; n < length; ++n) tail += static_cast<double>(x[n]) * y[n];
    return ((acc[0] + acc[2]) + (acc[1] + acc[3])) + tail;
}
#endif

// y[n] += a x[n].
inline void Axpy(float a, const float *x, float *y, int length) {
    for (int n = 0; n < length; ++n) y[n] += a * x[n];
}

} // namespace vntr::dsp
