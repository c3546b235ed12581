// The correlation kernels again for processors with AVX2: one 256-bit
// register holds the eight partial sums that two SSE2 registers hold, lane k
// the sum of the terms k mod 8, and a product and a sum are still two
// roundings (no fused multiply-add is asked for), so every result is the
// baseline's to the last bit.  Only the functions marked for AVX2 use it;
// the encoder calls them when the processor reports it.
#include "kernels.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VT48_AVX2 __attribute__((target("avx2")))
#endif

namespace vntr::vt48 {

#if defined(VT48_AVX2)

Simd DetectSimd() { return __builtin_cpu_supports("avx2") ? Simd::Avx2 : Simd::Sse2; }

namespace avx2 {

namespace {

VT48_AVX2 inline float Finish(__m256 sums, const float *x, const float *y, int n, int length) {
    float acc[8];
    _mm256_storeu_ps(acc, sums);
    return kernel::Finish(acc, x, y, n, length);
}

} // namespace

VT48_AVX2 void CrossCorrelations(const float *x, const float *y, int length, int count, float *out) {
    int j = 0;
    for (; j + 8 <= count; j += 8) {
        // Eight neighbouring lags: whole blocks that all eight products take, then each finishes alone.
        __m256 sums[8];
        for (int k = 0; k < 8; ++k) sums[k] = _mm256_setzero_ps();
        const float *yj = y + j;
        const int shortest = length - j - 7;
        int n = 0;
        for (; n + 8 <= shortest; n += 8) {
            const __m256 xn = _mm256_loadu_ps(x + n);
            for (int k = 0; k < 8; ++k) sums[k] = _mm256_add_ps(sums[k], _mm256_mul_ps(xn, _mm256_loadu_ps(yj + k + n)));
        }
        for (int k = 0; k < 8; ++k) out[j + k] = Finish(sums[k], x, yj + k, n, length - j - k);
    }
    for (; j < count; ++j) out[j] = Finish(_mm256_setzero_ps(), x, y + j, 0, length - j);
}

VT48_AVX2 void PairDots4(const float *const *x, const float *const *y, int length, float *out) {
    __m256 sums[4];
    for (int k = 0; k < 4; ++k) sums[k] = _mm256_setzero_ps();
    int n = 0;
    for (; n + 8 <= length; n += 8) {
        for (int k = 0; k < 4; ++k) {
            sums[k] = _mm256_add_ps(sums[k], _mm256_mul_ps(_mm256_loadu_ps(x[k] + n), _mm256_loadu_ps(y[k] + n)));
        }
    }
    for (int k = 0; k < 4; ++k) out[k] = Finish(sums[k], x[k], y[k], n, length);
}

} // namespace avx2

#else

Simd DetectSimd() { return Simd::Sse2; }

namespace avx2 {
void CrossCorrelations(const float *x, const float *y, int length, int count, float *out) {
    vntr::vt48::CrossCorrelations(x, y, length, count, out, Simd::Sse2);
}
void PairDots4(const float *const *x, const float *const *y, int length, float *out) { PairDots<4>(x, y, length, out); }
} // namespace avx2

#endif

} // namespace vntr::vt48
