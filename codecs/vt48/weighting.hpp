// The carried error weighting of one subframe: the weighted error W(z)(x - s)
// the subframe would leave with no excitation, W(z) = A(z/g1)/A(z/g2), s the
// synthesis 1/A(z) running on from its memory with no input, and the impulse
// response h of A(z/g1) / (A(z/g2) A(z)) from rest.  Two stages of two
// all-pole recursions each: (s, impulse response of 1/A(z)) with A, then,
// after the numerator, (target, h) with the denominator.
#pragma once

#include "kernels.hpp"

#include <vntr/dsp/filters.hpp>

#include <cstring>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::vt48 {

struct WeightingMemory {
    const float *synthesis; // [Order] last outputs of 1/A(z), oldest first
    const float *error;     // [Order] last speech less synthesis, oldest first
    const float *weighted;  // [Order] last weighted errors, oldest first
};

// The two stages one after the other.
//   in x [length], a, numerator, denominator [Order]     out target, h [length]
template <int Order, int MaxLength>
void WeightingInStages(const float *x, const float *a, const float *numerator, const float *denominator,
                       const WeightingMemory &memory, int length, float *target, float *h) {
    float ringing[Order + MaxLength], through[Order + MaxLength] = {};
    std::memcpy(ringing, memory.synthesis, sizeof(float) * Order);
    const float silence[MaxLength] = {};
    float impulse[MaxLength] = {1.0f};
    dsp::AllPolePair<Order>(silence, ringing + Order, impulse, through + Order, a, length);
    float error[Order + MaxLength];
    std::memcpy(error, memory.error, sizeof(float) * Order);
    for (int n = 0; n < length; ++n) error[Order + n] = x[n] - ringing[Order + n];
    float residual[MaxLength], shaped[MaxLength];
    FirFilterBlocked<Order>(error + Order, numerator, residual, length);
    FirFilterBlocked<Order>(through + Order, numerator, shaped, length);
    float t[Order + MaxLength], r[Order + MaxLength] = {};
    std::memcpy(t, memory.weighted, sizeof(float) * Order);
    dsp::AllPolePair<Order>(residual, t + Order, shaped, r + Order, denominator, length);
    std::memcpy(target, t + Order, sizeof(float) * static_cast<unsigned>(length));
    std::memcpy(h, r + Order, sizeof(float) * static_cast<unsigned>(length));
}

#if defined(VNTR_SIMD_SSE2)
// Two floats into the low lanes (the upper two are zero).
inline __m128 LoadPair(const float *p) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p)));
}
#endif

// The same outputs to the last bit in one pass: the four recursions are the
// four lanes of one SSE2 register, the second stage kDelay samples behind the
// first, so that the numerator's sums (two lanes of their own, each added in
// FirFilterBlocked's order) have the first stage's outputs in time.  Every lane
// takes AllPolePair's products and differences in its order.  For the first
// kDelay samples the second stage's lanes take their memory instead of an
// output, so that when they start their registers hold the memory as
// AllPolePair's would.
template <int Order, int MaxLength>
void Weighting(const float *x, const float *a, const float *numerator, const float *denominator,
               const WeightingMemory &memory, int length, float *target, float *h) {
#if defined(VNTR_SIMD_SSE2)
    constexpr int kDelay = 4;
    static_assert(kDelay < Order);
    // (x - s, impulse response of 1/A(z)) in pairs, memory first; then the numerator's outputs.
    float pair[2 * (Order + MaxLength)];
    for (int k = 0; k < Order; ++k) {
        pair[2 * k] = memory.error[k];
        pair[2 * k + 1] = 0.0f;
    }
    float numeratorOut[2 * MaxLength];
    // r[k] lanes: (s, impulse response, target, h) at n-1-k, the last two kDelay behind.
    __m128 r[Order];
    // The target's lane starts at n = -kDelay: r[k] there is its output at
    // -kDelay-1-k, memory while that is within it (the rest is never used).
    for (int k = 0; k < Order; ++k) {
        const float weighted = k <= Order - 1 - kDelay ? memory.weighted[Order - 1 - kDelay - k] : 0.0f;
        r[k] = _mm_setr_ps(memory.synthesis[Order - 1 - k], 0.0f, weighted, 0.0f);
    }
    __m128 coefficient[Order];
    for (int i = 0; i < Order; ++i) coefficient[i] = _mm_setr_ps(a[i], a[i], denominator[i], denominator[i]);
    __m128 tap[Order];
    for (int i = 0; i < Order; ++i) tap[i] = _mm_set1_ps(numerator[i]);
    for (int n = 0; n < length + kDelay; ++n) {
        const float first = n == 0 ? 1.0f : 0.0f; // the impulse; the ringing has no input
        __m128 in = _mm_setr_ps(0.0f, first, 0.0f, 0.0f);
        if (n >= kDelay) {
            in = _mm_movelh_ps(in, LoadPair(numeratorOut + 2 * (n - kDelay)));
        }
        __m128 even = in;
        __m128 odd = _mm_setzero_ps();
        int i = 2;
        for (; i + 1 <= Order; i += 2) {
            even = _mm_sub_ps(even, _mm_mul_ps(coefficient[i - 1], r[i - 1]));
            odd = _mm_sub_ps(odd, _mm_mul_ps(coefficient[i], r[i]));
        }
        if (i <= Order) even = _mm_sub_ps(even, _mm_mul_ps(coefficient[i - 1], r[i - 1]));
        __m128 y = _mm_sub_ps(_mm_add_ps(even, odd), _mm_mul_ps(coefficient[0], r[0]));
        if (n < kDelay) {
            // The second stage has not started: its lanes hold their memory.
            const __m128 held = _mm_setr_ps(0.0f, 0.0f, memory.weighted[Order - kDelay + n], 0.0f);
            const __m128 low = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, 0, 0));
            y = _mm_or_ps(_mm_and_ps(low, y), _mm_andnot_ps(low, held));
        } else {
            float out[4];
            _mm_storeu_ps(out, y);
            target[n - kDelay] = out[2];
            h[n - kDelay] = out[3];
        }
        for (int k = Order - 1; k > 0; --k) r[k] = r[k - 1];
        r[0] = y;
        if (n < length) {
            // x - s and the impulse response, then the numerator over both.
            float out[4];
            _mm_storeu_ps(out, y);
            float *now = pair + 2 * (Order + n);
            now[0] = x[n] - out[0];
            now[1] = out[1];
            __m128 acc = LoadPair(now);
            for (int t = 1; t <= Order; ++t) {
                acc = _mm_add_ps(acc, _mm_mul_ps(tap[t - 1], LoadPair(now - 2 * t)));
            }
            _mm_storel_epi64(reinterpret_cast<__m128i *>(numeratorOut + 2 * n), _mm_castps_si128(acc));
        }
    }
#else
    WeightingInStages<Order, MaxLength>(x, a, numerator, denominator, memory, length, target, h);
#endif
}

} // namespace vntr::vt48
