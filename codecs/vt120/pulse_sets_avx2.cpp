// The walk over the pulse sets for processors with AVX2: a row (the eight
// placings of pulse 3) in one register, every lane taking the same products
// and sums in the same order as the SSE2 walk (no fused multiply-add is asked
// for), so every set and every row bound is the same to the last bit.  Before
// that walk, each placing of pulses 0 and 1 scores all its 64 sets against the
// best without a branch, and only when one beats it are the sets walked as
// there: a placing none of whose sets beats the best is one where that walk
// takes nothing.  So the sets taken are the SSE2 walk's.
#include "pulse_sets.hpp"

#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>

namespace vntr::vt120::pulses::avx2 {
namespace {

// The lanes m where c^2 bestE > bestC2 e, as bits.
VNTR_TARGET_AVX2 inline unsigned Beats(__m256 c, __m256 e, float bestC2, float bestE) {
    const __m256 left = _mm256_mul_ps(_mm256_mul_ps(c, c), _mm256_set1_ps(bestE));
    const __m256 right = _mm256_mul_ps(_mm256_set1_ps(bestC2), e);
    return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps(left, right, _CMP_GT_OQ)));
}

// The rows from `from` on that may hold a set beating the best, by their
// bounds (all when the best energy is negative).
VNTR_TARGET_AVX2 inline unsigned Open(__m256 cMax, __m256 eMin, float bestC2, float bestE, int from) {
    const unsigned rows = bestE >= 0.0f ? Beats(cMax, eMin, bestC2, bestE) : 0xffu;
    return rows & (0xffu << from);
}

// Row m2 (pulse 2 at place t2 = t1 + m2): c and e of its eight sets.
VNTR_TARGET_AVX2 inline void Row(const Tables &tables, const float *c2, const float *e2, const float *b3, int t2,
                                 int m2, __m256 &c, __m256 &e) {
    c = _mm256_add_ps(_mm256_set1_ps(c2[m2]), _mm256_loadu_ps(tables.d3 + t2));
    e = _mm256_add_ps(_mm256_set1_ps(e2[t2]),
                      _mm256_add_ps(_mm256_loadu_ps(b3 + t2), _mm256_load_ps(tables.cross23[t2])));
}

} // namespace

VNTR_TARGET_AVX2 void SearchSets(const Tables &tables, int *bestCode) {
    const __m256 two = _mm256_set1_ps(2.0f);
    const __m256 vMaxD3 = _mm256_set1_ps(tables.maxD3);
    float bestC2 = tables.floor;
    float bestE = 1.0f;
    for (int k0 = 0; k0 < kTrack; ++k0) {
        for (int m1 = 0; m1 < kTrack; ++m1) {
            const int t1 = (k0 + m1) & (kTrack - 1);
            const float c1 = tables.d0[k0] + tables.d1[t1];
            const float e1 = tables.self0[k0] + tables.self1[t1] + 2.0f * tables.phi01[k0][t1];
            alignas(32) float e2[2 * kTrack], b3[2 * kTrack];
            const __m256 x2 = _mm256_add_ps(_mm256_load_ps(tables.phi02[k0]), _mm256_load_ps(tables.phi12[t1]));
            const __m256 v2 =
                _mm256_add_ps(_mm256_add_ps(_mm256_set1_ps(e1), _mm256_load_ps(tables.self2)), _mm256_mul_ps(two, x2));
            const __m256 x3 = _mm256_add_ps(_mm256_load_ps(tables.phi03[k0]), _mm256_load_ps(tables.phi13[t1]));
            const __m256 v3 = _mm256_add_ps(_mm256_load_ps(tables.self3), _mm256_mul_ps(two, x3));
            _mm256_store_ps(e2, v2);
            _mm256_store_ps(e2 + kTrack, v2);
            _mm256_store_ps(b3, v3);
            _mm256_store_ps(b3 + kTrack, v3);
            alignas(32) float c2[kTrack];
            const __m256 c = _mm256_add_ps(_mm256_set1_ps(c1), _mm256_loadu_ps(tables.d2 + t1));
            _mm256_store_ps(c2, c);

            // Whether any of the 64 sets beats the best: the walk below takes
            // a set only then, and most placings of pulses 0 and 1 have none.
            // Scoring all 64 without a branch costs less than the walk's
            // bounds and mispredicted turns.
            __m256 any = _mm256_setzero_ps();
            const __m256 vBestE = _mm256_set1_ps(bestE);
            const __m256 vBestC2 = _mm256_set1_ps(bestC2);
            for (int m2 = 0; m2 < kTrack; ++m2) {
                const int t2 = (t1 + m2) & (kTrack - 1);
                __m256 rowC, rowE;
                Row(tables, c2, e2, b3, t2, m2, rowC, rowE);
                const __m256 left = _mm256_mul_ps(_mm256_mul_ps(rowC, rowC), vBestE);
                any = _mm256_or_ps(any, _mm256_cmp_ps(left, _mm256_mul_ps(vBestC2, rowE), _CMP_GT_OQ));
            }
            if (_mm256_testz_ps(any, any)) continue;

            // The SSE2 walk's rows, bounds and all (with infinities or NaNs
            // about, the rows it passes over matter).  The least b3 by its steps.
            __m128 least = _mm_min_ps(_mm256_castps256_ps128(v3), _mm256_extractf128_ps(v3, 1));
            least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(1, 0, 3, 2)));
            least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(2, 3, 0, 1)));
            const __m256 cMax = _mm256_add_ps(c, vMaxD3);
            const __m256 eMin =
                _mm256_add_ps(_mm256_loadu_ps(e2 + t1),
                              _mm256_add_ps(_mm256_broadcastss_ps(least), _mm256_loadu_ps(tables.minCross + t1)));
            for (unsigned rows = Open(cMax, eMin, bestC2, bestE, 0); rows != 0;) {
                const int m2 = __builtin_ctz(rows);
                const int t2 = (t1 + m2) & (kTrack - 1);
                __m256 rowC, rowE;
                Row(tables, c2, e2, b3, t2, m2, rowC, rowE);
                alignas(32) float rc[kTrack], re[kTrack];
                _mm256_store_ps(rc, rowC);
                _mm256_store_ps(re, rowE);
                bool improved = false;
                for (unsigned sets = Beats(rowC, rowE, bestC2, bestE); sets != 0;) {
                    const int m3 = __builtin_ctz(sets);
                    bestC2 = rc[m3] * rc[m3];
                    bestE = re[m3];
                    bestCode[0] = k0;
                    bestCode[1] = m1;
                    bestCode[2] = m2;
                    bestCode[3] = m3;
                    improved = true;
                    sets = Beats(rowC, rowE, bestC2, bestE) & (0xffu << (m3 + 1));
                }
                rows = improved ? Open(cMax, eMin, bestC2, bestE, m2 + 1) : rows & (rows - 1);
            }
        }
    }
}

} // namespace vntr::vt120::pulses::avx2

#endif
