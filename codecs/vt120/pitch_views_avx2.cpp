// The shared views' sums for processors with AVX2.  View 6 is built eight
// outputs a register, lane n adding h(i) w(6 + n - i) for i = 0..n in turn
// from +0 as the Axpy loop does (the lanes past their last term add +0,
// which leaves a sum from +0 as it is); the lower views by the same
// recursion.  A dot product keeps dsp::Dot's eight partial sums in one
// register (lane k the terms n mod 8 = k) and folds them by its tree.
// Products and sums round one at a time: no fused multiply-add is asked for.
#include "pitch_views.hpp"

#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>

namespace vntr::vt120::avx2 {
namespace {

constexpr int kLength = kSubframeLength;
constexpr int kTaps = dsp::kPredictorTaps;

// dsp::Dot of two sub-frames: ((a0 + a4) + (a1 + a5)) + ((a2 + a6) + (a3 + a7)) + 0.
VNTR_TARGET_AVX2 inline float Dot(const float *x, const float *y) {
    __m256 acc = _mm256_mul_ps(_mm256_loadu_ps(x), _mm256_loadu_ps(y));
    acc = _mm256_add_ps(_mm256_setzero_ps(), acc);
    for (int n = 8; n < kLength; n += 8)
        acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_loadu_ps(x + n), _mm256_loadu_ps(y + n)));
    const __m128 s = _mm_add_ps(_mm256_castps256_ps128(acc), _mm256_extractf128_ps(acc, 1)); // a_k + a_{k+4}
    const __m128 t = _mm_add_ps(s, _mm_shuffle_ps(s, s, _MM_SHUFFLE(2, 3, 0, 1)));           // (s0 + s1), (s2 + s3)
    const float tree = _mm_cvtss_f32(t) + _mm_cvtss_f32(_mm_movehl_ps(t, t));
    return tree + 0.0f;
}

} // namespace

VNTR_TARGET_AVX2 void SharedViewSums(const float *w, const float *h, const float *target, ViewSums &sums) {
    alignas(32) float z[kSharedViews][kLength];
    const float *w6 = w + kSharedViews - 1;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int n0 = 0; n0 < kLength; n0 += 8) {
        __m256 acc = _mm256_setzero_ps();
        for (int i = 0; i < n0 + 8; ++i) {
            // Lane n takes h(i) w6(n - i) while i <= n.
            const __m256 live = _mm256_castsi256_ps(
                _mm256_cmpgt_epi32(_mm256_add_epi32(lane, _mm256_set1_epi32(n0 + 1)), _mm256_set1_epi32(i)));
            const __m256 term = _mm256_mul_ps(_mm256_set1_ps(h[i]), _mm256_loadu_ps(w6 + n0 - i));
            acc = _mm256_add_ps(acc, _mm256_and_ps(term, live));
        }
        _mm256_store_ps(z[kSharedViews - 1] + n0, acc);
    }
    for (int s = kSharedViews - 2; s >= 0; --s) {
        z[s][0] = h[0] * w[s];
        for (int n = 1; n < kLength; ++n) z[s][n] = z[s + 1][n - 1] + h[n] * w[s];
    }
    for (int s = 0; s < kSharedViews; ++s) {
        sums.correlation[s] = Dot(target, z[s]);
        sums.energy[s] = Dot(z[s], z[s]);
        for (int t = s - kTaps + 1 < 0 ? 0 : s - kTaps + 1; t < s; ++t) sums.cross[s][t] = Dot(z[s], z[t]);
    }
}

} // namespace vntr::vt120::avx2

#endif
