// Several dot products in one pass over their operands.  Each product is
// summed exactly as dsp::Dot sums it (eight interleaved partial sums, the same
// tail, the same final tree), so a search that uses these makes the same
// choices to the last bit; the independent sums only keep the core busy.
// The eight partial sums are two SSE registers of four (every x86-64 core has
// them); elsewhere, and in the plain build, the plain loops stand in.
#pragma once

#include <vntr/dsp/simd.hpp>

#include <cstdint>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::vt48 {

// The kernels' kind, chosen once per handle (dsp::DetectSimd()).
using dsp::Simd;

#if defined(VNTR_SIMD_AVX2)
// The AVX2 forms of the kernels below (kernels_avx2.cpp); call them only when
// dsp::DetectSimd() gives Simd::Avx2.
namespace avx2 {
void CrossCorrelations(const float *x, const float *y, int length, int count, float *out);
void PairDots4(const float *const *x, const float *const *y, int length, float *out);
// PairDots over `count` pairs, four at a time.
void PairDotsMany(const float *const *x, const float *const *y, int count, int length, float *out);
// FilterPadded and FirFromRest below, eight outputs in one register.
void FilterPadded(const float *hz, const float *x, int length, float *y);
void FirFromRest(const float *x, const float *b, int taps, float *y, int length);
} // namespace avx2
#endif

namespace kernel {

// The final tree of dsp::Dot.
inline float Fold(const float *acc, float tail) {
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7])) + tail;
}

// Finishes one product whose whole blocks before n are in acc: whole blocks
// of eight while they fit, then the tail one term at a time.
inline float Finish(float *acc, const float *x, const float *y, int n, int length) {
    for (; n + 8 <= length; n += 8) {
        for (int k = 0; k < 8; ++k) acc[k] += x[n + k] * y[n + k];
    }
    float tail = 0.0f;
    for (; n < length; ++n) tail += x[n] * y[n];
    return Fold(acc, tail);
}

#if defined(VNTR_SIMD_SSE2)
struct Sums {
    __m128 lo = _mm_setzero_ps(); // partial sums 0..3
    __m128 hi = _mm_setzero_ps(); // partial sums 4..7
    void Add(const float *x, const float *y) {
        lo = _mm_add_ps(lo, _mm_mul_ps(_mm_loadu_ps(x), _mm_loadu_ps(y)));
        hi = _mm_add_ps(hi, _mm_mul_ps(_mm_loadu_ps(x + 4), _mm_loadu_ps(y + 4)));
    }
    void Add(__m128 x0, __m128 x1, const float *y) {
        lo = _mm_add_ps(lo, _mm_mul_ps(x0, _mm_loadu_ps(y)));
        hi = _mm_add_ps(hi, _mm_mul_ps(x1, _mm_loadu_ps(y + 4)));
    }
    float Finish(const float *x, const float *y, int n, int length) const {
        float acc[8];
        _mm_storeu_ps(acc, lo);
        _mm_storeu_ps(acc + 4, hi);
        return kernel::Finish(acc, x, y, n, length);
    }
};
#else
struct Sums {
    float acc[8] = {};
    void Add(const float *x, const float *y) {
        for (int k = 0; k < 8; ++k) acc[k] += x[k] * y[k];
    }
    float Finish(const float *x, const float *y, int n, int length) { return kernel::Finish(acc, x, y, n, length); }
};
#endif

} // namespace kernel

// out[j] = dsp::Dot(x, y + j, length - j) for j < 4: the correlation of two
// signals at four neighbouring lags, each over what the lag leaves (a length
// of 0 or less gives 0).  Reads x [length] and y [length].
inline void CrossCorrelations4(const float *x, const float *y, int length, float *out) {
    kernel::Sums sums[4];
    int n = 0;
    for (; n + 8 <= length - 3; n += 8) {
#if defined(VNTR_SIMD_SSE2)
        const __m128 x0 = _mm_loadu_ps(x + n), x1 = _mm_loadu_ps(x + n + 4);
        for (int j = 0; j < 4; ++j) sums[j].Add(x0, x1, y + j + n);
#else
        for (int j = 0; j < 4; ++j) sums[j].Add(x + n, y + j + n);
#endif
    }
    for (int j = 0; j < 4; ++j) out[j] = sums[j].Finish(x, y + j, n, length - j);
}

// out[j] = dsp::Dot(x, y + j, length - j) for j < count, with the kernels of `simd`.
inline void CrossCorrelations(const float *x, const float *y, int length, int count, float *out, Simd simd) {
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) {
        avx2::CrossCorrelations(x, y, length, count, out);
        return;
    }
#else
    (void)simd;
#endif
    int j = 0;
    for (; j + 4 <= count; j += 4) CrossCorrelations4(x, y + j, length - j, out + j);
    if (j < count) {
        float last[4];
        CrossCorrelations4(x, y + j, length - j, last);
        for (int k = 0; j + k < count; ++k) out[j + k] = last[k];
    }
}

// out[j] = dsp::Dot(x[j], y[j], length) for j < K.
template <int K>
inline void PairDots(const float *const *x, const float *const *y, int length, float *out) {
    kernel::Sums sums[K];
    int n = 0;
    for (; n + 8 <= length; n += 8) {
        for (int j = 0; j < K; ++j) sums[j].Add(x[j] + n, y[j] + n);
    }
    for (int j = 0; j < K; ++j) out[j] = sums[j].Finish(x[j], y[j], n, length);
}

// out[j] = dsp::Dot(x[j], y[j], length) for j < count, with the kernels of `simd`.
inline void PairDots(const float *const *x, const float *const *y, int count, int length, float *out, Simd simd) {
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) {
        avx2::PairDotsMany(x, y, count, length, out);
        return;
    }
#else
    (void)simd;
#endif
    int j = 0;
    for (; j + 4 <= count; j += 4) PairDots<4>(x + j, y + j, length, out + j);
    for (; j < count; ++j) PairDots<1>(x + j, y + j, length, out + j);
}

// y[n] = sum_{i<=n} x[i] hz[n-i] for n < length, eight outputs at a time held
// in registers, each output adding its terms in the order of i from 0.  hz
// has 8 zeros before its start and 8 after its end (the terms past either end
// are +0 or -0 and leave a sum from +0 as it is).
//   in hz [-8 .. length+7], x [length]     out y [length]
inline void FilterPadded(const float *hz, const float *x, int length, float *y, Simd simd) {
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) {
        avx2::FilterPadded(hz, x, length, y);
        return;
    }
#else
    (void)simd;
#endif
    for (int n = 0; n < length; n += 8) {
        const int last = n + 7 < length - 1 ? n + 7 : length - 1;
        float out[8];
#if defined(VNTR_SIMD_SSE2)
        __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
        for (int i = 0; i <= last; ++i) {
            const __m128 a = _mm_set1_ps(x[i]);
            lo = _mm_add_ps(lo, _mm_mul_ps(a, _mm_loadu_ps(hz + n - i)));
            hi = _mm_add_ps(hi, _mm_mul_ps(a, _mm_loadu_ps(hz + n - i + 4)));
        }
        _mm_storeu_ps(out, lo);
        _mm_storeu_ps(out + 4, hi);
#else
        for (int k = 0; k < 8; ++k) out[k] = 0.0f;
        for (int i = 0; i <= last; ++i) {
            for (int k = 0; k < 8; ++k) out[k] += x[i] * hz[n - i + k];
        }
#endif
        for (int k = 0; k < 8 && n + k < length; ++k) y[n + k] = out[k];
    }
}

// dsp::FirFilter, four outputs at a time: each output still adds its taps in
// order from x[n], so it is the same to the last bit.
//   in x [-Order .. length-1]     in b [Order]     out y [length]
template <int Order>
inline void FirFilterBlocked(const float *x, const float *b, float *y, int length) {
    int n = 0;
#if defined(VNTR_SIMD_SSE2)
    for (; n + 4 <= length; n += 4) {
        __m128 acc = _mm_loadu_ps(x + n);
        for (int i = 1; i <= Order; ++i)
            acc = _mm_add_ps(acc, _mm_mul_ps(_mm_set1_ps(b[i - 1]), _mm_loadu_ps(x + n - i)));
        _mm_storeu_ps(y + n, acc);
    }
#endif
    for (; n < length; ++n) {
        float acc = x[n];
        for (int i = 1; i <= Order; ++i) acc += b[i - 1] * x[n - i];
        y[n] = acc;
    }
}

// y[n] = sum_{k<Taps} b[k] x[n-k], each sum from +0 with tap 0 first (the
// order of adding the taps one whole signal at a time), eight outputs at a time.
//   in x [-(Taps-1) .. length-1]     in b [Taps]     out y [length] (may not alias x)
template <int Taps>
inline void FirFromRest(const float *x, const float *b, float *y, int length) {
    int n = 0;
#if defined(VNTR_SIMD_SSE2)
    for (; n + 8 <= length; n += 8) {
        __m128 lo = _mm_setzero_ps(), hi = _mm_setzero_ps();
        for (int k = 0; k < Taps; ++k) {
            const __m128 tap = _mm_set1_ps(b[k]);
            lo = _mm_add_ps(lo, _mm_mul_ps(tap, _mm_loadu_ps(x + n - k)));
            hi = _mm_add_ps(hi, _mm_mul_ps(tap, _mm_loadu_ps(x + n + 4 - k)));
        }
        _mm_storeu_ps(y + n, lo);
        _mm_storeu_ps(y + n + 4, hi);
    }
#endif
    for (; n < length; ++n) {
        const float *at = x + n;
        float acc = 0.0f;
        for (int k = 0; k < Taps; ++k) acc += b[k] * *(at - k);
        y[n] = acc;
    }
}

// FirFromRest with the kernels of `simd`.
template <int Taps>
inline void FirFromRest(const float *x, const float *b, float *y, int length, Simd simd) {
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) {
        avx2::FirFromRest(x, b, Taps, y, length);
        return;
    }
#else
    (void)simd;
#endif
    FirFromRest<Taps>(x, b, y, length);
}

// The first p < count whose score c[p]^2 / e[p] (0 where e[p] is not
// above 0) is the highest and above `floor`, or -1 when none is; its score in
// *score.  It is the p that a scan in order of p keeping every strictly
// better score ends on: a NaN score never beats anything, so it counts as
// -inf here, and of equal highest scores the first is taken.  Each score is
// the same division as in the plain loop, four lanes at a time.
//   in c, e [count], count <= MaxCount
template <int MaxCount>
inline int FirstBestScore(const float *c, const float *e, int count, float floor, float *score) {
#if defined(VNTR_SIMD_SSE2)
    constexpr int kBlocks = (MaxCount + 3) / 4;
    float scores[4 * kBlocks];
    const __m128 lowest = _mm_set1_ps(-__builtin_inff());
    __m128 highest = lowest;
    const int blocks = (count + 3) / 4;
    for (int b = 0; b < blocks; ++b) {
        const int p = 4 * b;
        __m128 cv, ev;
        if (p + 4 <= count) {
            cv = _mm_loadu_ps(c + p);
            ev = _mm_loadu_ps(e + p);
        } else {
            float cl[4] = {}, el[4] = {};
            for (int k = 0; p + k < count; ++k) {
                cl[k] = c[p + k];
                el[k] = e[p + k];
            }
            cv = _mm_loadu_ps(cl);
            ev = _mm_loadu_ps(el);
        }
        const __m128 positive = _mm_cmpgt_ps(ev, _mm_setzero_ps());
        __m128 s = _mm_and_ps(positive, _mm_div_ps(_mm_mul_ps(cv, cv), ev));
        // NaNs and the lanes past the count take -inf.
        const __m128i lane = _mm_add_epi32(_mm_set1_epi32(p), _mm_setr_epi32(0, 1, 2, 3));
        const __m128 live =
            _mm_and_ps(_mm_cmpord_ps(s, s), _mm_castsi128_ps(_mm_cmplt_epi32(lane, _mm_set1_epi32(count))));
        s = _mm_or_ps(_mm_and_ps(live, s), _mm_andnot_ps(live, lowest));
        _mm_storeu_ps(scores + p, s);
        highest = _mm_max_ps(highest, s);
    }
    highest = _mm_max_ps(highest, _mm_shuffle_ps(highest, highest, _MM_SHUFFLE(1, 0, 3, 2)));
    highest = _mm_max_ps(highest, _mm_shuffle_ps(highest, highest, _MM_SHUFFLE(2, 3, 0, 1)));
    const float top = _mm_cvtss_f32(highest);
    if (!(top > floor)) return -1;
    *score = top;
    for (int b = 0;; ++b) {
        const int equal = _mm_movemask_ps(_mm_cmpeq_ps(_mm_loadu_ps(scores + 4 * b), highest));
        if (equal != 0) return 4 * b + __builtin_ctz(static_cast<unsigned>(equal));
    }
#else
    int best = -1;
    for (int p = 0; p < count; ++p) {
        const float s = e[p] > 0.0f ? c[p] * c[p] / e[p] : 0.0f;
        if (s > floor) {
            floor = s;
            best = p;
        }
    }
    if (best >= 0) *score = floor;
    return best;
#endif
}

// The last Count outputs of the convolution of h and x, both [length]:
// y[i] = sum_{k<=m} h[k] x[m-k], m = length - Count + i, each sum in the order
// of k from 0 (as a loop over k around a loop over i adds them).  The Count
// sums run side by side in SIMD lanes; a lane whose sum has ended adds
// h[k] times one of the zeros in front of x, which leaves a sum from +0 as it is.
//   in h [length], x [length], Count <= length <= MaxLength     out y [Count]
template <int Count, int MaxLength>
inline void LastConvolution(const float *h, const float *x, int length, float *y) {
    constexpr int kLanes = (Count + 3) / 4 * 4;
    float padded[kLanes + MaxLength + kLanes] = {};
    const int first = length - Count;
    // padded[kLanes + n] = x[n]; everything before is zero.
    for (int n = 0; n < length; ++n) padded[kLanes + n] = x[n];
    float sums[kLanes];
#if defined(VNTR_SIMD_SSE2)
    __m128 acc[kLanes / 4];
    for (int g = 0; g < kLanes / 4; ++g) acc[g] = _mm_setzero_ps();
    for (int k = 0; k < length; ++k) {
        const __m128 hk = _mm_set1_ps(h[k]);
        const float *at = padded + kLanes + first - k;
        for (int g = 0; g < kLanes / 4; ++g) acc[g] = _mm_add_ps(acc[g], _mm_mul_ps(hk, _mm_loadu_ps(at + 4 * g)));
    }
    for (int g = 0; g < kLanes / 4; ++g) _mm_storeu_ps(sums + 4 * g, acc[g]);
#else
    for (int i = 0; i < kLanes; ++i) sums[i] = 0.0f;
    for (int k = 0; k < length; ++k) {
        const float *at = padded + kLanes + first - k;
        for (int i = 0; i < kLanes; ++i) sums[i] += h[k] * at[i];
    }
#endif
    for (int i = 0; i < Count; ++i) y[i] = sums[i];
}

} // namespace vntr::vt48
