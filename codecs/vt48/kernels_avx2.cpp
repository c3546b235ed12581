// The correlation kernels again for processors with AVX2: one 256-bit
// register holds the eight partial sums that two SSE2 registers hold, lane k
// the sum of the terms k mod 8, and a product and a sum are still two
// roundings (no fused multiply-add is asked for), so every result is the
// baseline's to the last bit.  Only the functions marked for AVX2 use it;
// the encoder calls them when the processor reports it.
#include "kernels.hpp"

#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>

namespace vntr::vt48::avx2 {

namespace {

VNTR_TARGET_AVX2 inline float Finish(__m256 sums, const float *x, const float *y, int n, int length) {
    float acc[8];
    _mm256_storeu_ps(acc, sums);
    return kernel::Finish(acc, x, y, n, length);
}

// The eight partial sums of each of eight products, turned so that vector p
// holds partial sum p of every product: t[p] lane k = sums[k] lane p.
VNTR_TARGET_AVX2 inline void Transpose(const __m256 *sums, __m256 *t) {
    const __m256 a0 = _mm256_unpacklo_ps(sums[0], sums[1]), a1 = _mm256_unpackhi_ps(sums[0], sums[1]);
    const __m256 a2 = _mm256_unpacklo_ps(sums[2], sums[3]), a3 = _mm256_unpackhi_ps(sums[2], sums[3]);
    const __m256 a4 = _mm256_unpacklo_ps(sums[4], sums[5]), a5 = _mm256_unpackhi_ps(sums[4], sums[5]);
    const __m256 a6 = _mm256_unpacklo_ps(sums[6], sums[7]), a7 = _mm256_unpackhi_ps(sums[6], sums[7]);
    const __m256 b0 = _mm256_shuffle_ps(a0, a2, 0x44), b1 = _mm256_shuffle_ps(a0, a2, 0xEE);
    const __m256 b2 = _mm256_shuffle_ps(a1, a3, 0x44), b3 = _mm256_shuffle_ps(a1, a3, 0xEE);
    const __m256 b4 = _mm256_shuffle_ps(a4, a6, 0x44), b5 = _mm256_shuffle_ps(a4, a6, 0xEE);
    const __m256 b6 = _mm256_shuffle_ps(a5, a7, 0x44), b7 = _mm256_shuffle_ps(a5, a7, 0xEE);
    t[0] = _mm256_permute2f128_ps(b0, b4, 0x20);
    t[1] = _mm256_permute2f128_ps(b1, b5, 0x20);
    t[2] = _mm256_permute2f128_ps(b2, b6, 0x20);
    t[3] = _mm256_permute2f128_ps(b3, b7, 0x20);
    t[4] = _mm256_permute2f128_ps(b0, b4, 0x31);
    t[5] = _mm256_permute2f128_ps(b1, b5, 0x31);
    t[6] = _mm256_permute2f128_ps(b2, b6, 0x31);
    t[7] = _mm256_permute2f128_ps(b3, b7, 0x31);
}

// out[k] = dsp::Dot(x, y + k, length - k) for k < count <= 8.  Lag k takes
// length - k terms: the whole blocks that all eight take, one more whole block
// for the lags long enough, then each lag's tail of fewer than eight terms,
// the eight tails side by side (lane k the tail of lag k, term after term as
// the plain loop adds them; a lane whose tail has ended adds +0, which leaves
// a sum from +0 as it is), and dsp::Dot's final tree on all eight at once.
// Reads x and y only below `length`.
VNTR_TARGET_AVX2 void CrossCorrelations8(const float *x, const float *y, int length, int count, float *out) {
    __m256 sums[8];
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) sums[k] = _mm256_setzero_ps();
    int n = 0;
    for (; n + 8 <= length - 7; n += 8) {
        const __m256 xn = _mm256_loadu_ps(x + n);
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) sums[k] = _mm256_add_ps(sums[k], _mm256_mul_ps(xn, _mm256_loadu_ps(y + k + n)));
    }
    // Lags k <= length - n - 8 have one more whole block; their tails start 8 later.
    const int longest = length - n - 8;
    if (longest >= 0) {
        const __m256 xn = _mm256_loadu_ps(x + n);
        // Every k a constant (unrolled), so that the sums stay in registers.
#pragma GCC unroll 8
        for (int k = 0; k < 8; ++k) {
            if (k <= longest) sums[k] = _mm256_add_ps(sums[k], _mm256_mul_ps(xn, _mm256_loadu_ps(y + k + n)));
        }
    }
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i later = _mm256_cmpgt_epi32(_mm256_set1_epi32(longest + 1), lane); // lane k <= longest
    // Lag k's tail term i is x[start + i] y[k + start + i], start = n or n + 8,
    // while start + i < length - k.
    const __m256i start = _mm256_add_epi32(_mm256_set1_epi32(n), _mm256_and_si256(later, _mm256_set1_epi32(8)));
    const __m256i end = _mm256_sub_epi32(_mm256_set1_epi32(length), lane);
    __m256 tail = _mm256_setzero_ps();
    for (int i = 0; i < 7; ++i) {
        const __m256i at = _mm256_add_epi32(start, _mm256_set1_epi32(i));
        const __m256i live = _mm256_cmpgt_epi32(end, at);
        if (_mm256_testz_si256(live, live)) break;
        const __m256i liveNear = _mm256_andnot_si256(later, live), liveFar = _mm256_and_si256(later, live);
        const float xNear = n + i < length ? x[n + i] : 0.0f;
        const float xFar = n + 8 + i < length ? x[n + 8 + i] : 0.0f;
        const __m256 xv = _mm256_blendv_ps(_mm256_set1_ps(xNear), _mm256_set1_ps(xFar), _mm256_castsi256_ps(later));
        const __m256 yv =
            _mm256_or_ps(_mm256_maskload_ps(y + n + i, liveNear), _mm256_maskload_ps(y + n + 8 + i, liveFar));
        tail = _mm256_add_ps(tail, _mm256_and_ps(_mm256_mul_ps(xv, yv), _mm256_castsi256_ps(live)));
    }
    __m256 t[8];
    Transpose(sums, t);
    const __m256 folded =
        _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_add_ps(t[0], t[4]), _mm256_add_ps(t[1], t[5])),
                                    _mm256_add_ps(_mm256_add_ps(t[2], t[6]), _mm256_add_ps(t[3], t[7]))),
                      tail);
    if (count == 8) {
        _mm256_storeu_ps(out, folded);
    } else {
        float all[8];
        _mm256_storeu_ps(all, folded);
        for (int k = 0; k < count; ++k) out[k] = all[k];
    }
}

} // namespace

VNTR_TARGET_AVX2 void CrossCorrelations(const float *x, const float *y, int length, int count, float *out) {
    for (int j = 0; j < count; j += 8) CrossCorrelations8(x, y + j, length - j, count - j < 8 ? count - j : 8, out + j);
}

VNTR_TARGET_AVX2 void PairDots4(const float *const *x, const float *const *y, int length, float *out) {
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

VNTR_TARGET_AVX2 void PairDotsMany(const float *const *x, const float *const *y, int count, int length, float *out) {
    int j = 0;
    for (; j + 4 <= count; j += 4) PairDots4(x + j, y + j, length, out + j);
    for (; j < count; ++j) {
        __m256 sums = _mm256_setzero_ps();
        int n = 0;
        for (; n + 8 <= length; n += 8)
            sums = _mm256_add_ps(sums, _mm256_mul_ps(_mm256_loadu_ps(x[j] + n), _mm256_loadu_ps(y[j] + n)));
        out[j] = Finish(sums, x[j], y[j], n, length);
    }
}

// Lane k of register b is output 8 b + k, as lane k of the two SSE2 registers
// of block b.  All blocks are summed in one pass over i (each still in the
// order of i, and only for the i its outputs take), so that their chains of
// additions overlap instead of waiting on each other.
VNTR_TARGET_AVX2 void FilterPadded(const float *hz, const float *x, int length, float *y) {
    constexpr int kMostBlocks = 7; // 56 outputs
    if (length > 8 * kMostBlocks) {
        vntr::vt48::FilterPadded(hz, x, length, y, Simd::Sse2);
        return;
    }
    const int blocks = (length + 7) / 8;
    __m256 acc[kMostBlocks];
#pragma GCC unroll 7
    for (int b = 0; b < kMostBlocks; ++b) acc[b] = _mm256_setzero_ps();
    for (int i = 0; i < length; ++i) {
        const __m256 xi = _mm256_set1_ps(x[i]);
        // Block b takes the terms i <= 8 b + 7.
#pragma GCC unroll 7
        for (int b = 0; b < kMostBlocks; ++b) {
            if (b < blocks && i <= 8 * b + 7)
                acc[b] = _mm256_add_ps(acc[b], _mm256_mul_ps(xi, _mm256_loadu_ps(hz + 8 * b - i)));
        }
    }
#pragma GCC unroll 7
    for (int b = 0; b < kMostBlocks; ++b) {
        if (b >= blocks) break;
        if (8 * b + 8 <= length) {
            _mm256_storeu_ps(y + 8 * b, acc[b]);
        } else {
            float out[8];
            _mm256_storeu_ps(out, acc[b]);
            for (int k = 0; 8 * b + k < length; ++k) y[8 * b + k] = out[k];
        }
    }
}

VNTR_TARGET_AVX2 void FirFromRest(const float *x, const float *b, int taps, float *y, int length) {
    int n = 0;
    for (; n + 8 <= length; n += 8) {
        __m256 acc = _mm256_setzero_ps();
        for (int k = 0; k < taps; ++k)
            acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_set1_ps(b[k]), _mm256_loadu_ps(x + n - k)));
        _mm256_storeu_ps(y + n, acc);
    }
    for (; n < length; ++n) {
        float acc = 0.0f;
        for (int k = 0; k < taps; ++k) acc += b[k] * x[n - k];
        y[n] = acc;
    }
}

} // namespace vntr::vt48::avx2

#endif
