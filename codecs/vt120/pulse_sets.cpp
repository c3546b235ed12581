// The walks over the pulse sets without vectors and with SSE2 (the AVX2 one
// is in pulse_sets_avx2.cpp).  Both visit the same rows and take the same
// sets: the SSE2 walk makes each row's eight sums and bounds four lanes at a
// time, the plain one lane by lane in the same order, so every score and every
// bound is the same to the last bit.
#include "pulse_sets.hpp"

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::vt120::pulses {

// The walk one set at a time: every sum and product of the vector walks, in
// their order, lane by lane.
namespace {

// The lesser of a and b as a vector minimum takes it: b unless a < b (so b
// when either is a NaN, and of two zeros the second).
inline float Lesser(float a, float b) {
    return a < b ? a : b;
}

// The sets m of a row (from `from` on) where c^2 bestE > bestC2 e, as bits.
inline unsigned Beats(const float *c, const float *e, float bestC2, float bestE, int from) {
    unsigned sets = 0;
    for (int m = from; m < kTrack; ++m) sets |= (c[m] * c[m] * bestE > bestC2 * e[m] ? 1u : 0u) << m;
    return sets;
}

} // namespace

void SearchSets(const Tables &tables, int *bestCode) {
    float bestC2 = tables.floor;
    float bestE = 1.0f;
    for (int k0 = 0; k0 < kTrack; ++k0) {
        for (int m1 = 0; m1 < kTrack; ++m1) {
            const int t1 = (k0 + m1) & (kTrack - 1);
            const float c1 = tables.d0[k0] + tables.d1[t1];
            const float e1 = tables.self0[k0] + tables.self1[t1] + 2.0f * tables.phi01[k0][t1];
            // Pulses 2 and 3 on their own and against pulses 0 and 1, by place.
            float e2[2 * kTrack], b3[2 * kTrack];
            for (int q = 0; q < kTrack; ++q) {
                const float x2 = tables.phi02[k0][q] + tables.phi12[t1][q];
                const float x3 = tables.phi03[k0][q] + tables.phi13[t1][q];
                e2[q] = e2[kTrack + q] = (e1 + tables.self2[q]) + 2.0f * x2;
                b3[q] = b3[kTrack + q] = tables.self3[q] + 2.0f * x3;
            }
            // The least b3, in the vector walk's steps: halves, then pairs, then the two.
            const float least = Lesser(Lesser(Lesser(b3[0], b3[4]), Lesser(b3[2], b3[6])),
                                       Lesser(Lesser(b3[1], b3[5]), Lesser(b3[3], b3[7])));

            // By row m2 (pulse 2 at place t1 + m2): c up to pulse 2, and the bounds.
            float c2[kTrack], cMax[kTrack], eMin[kTrack];
            for (int m = 0; m < kTrack; ++m) {
                c2[m] = c1 + tables.d2[t1 + m];
                cMax[m] = c2[m] + tables.maxD3;
                eMin[m] = e2[t1 + m] + (least + tables.minCross[t1 + m]);
            }
            // Rows that may hold a set beating the best, from row `from` on.
            const auto open = [&](int from) {
                return bestE >= 0.0f ? Beats(cMax, eMin, bestC2, bestE, from) : 0xffu & (0xffu << from);
            };
            for (unsigned rows = open(0); rows != 0;) {
                const int m2 = __builtin_ctz(rows);
                const int t2 = (t1 + m2) & (kTrack - 1);
                float rowC[kTrack], rowE[kTrack];
                for (int m = 0; m < kTrack; ++m) {
                    rowC[m] = c2[m2] + tables.d3[t2 + m];
                    rowE[m] = e2[t2] + (b3[t2 + m] + tables.cross23[t2][m]);
                }
                bool improved = false;
                for (unsigned sets = Beats(rowC, rowE, bestC2, bestE, 0); sets != 0;) {
                    const int m3 = __builtin_ctz(sets);
                    bestC2 = rowC[m3] * rowC[m3];
                    bestE = rowE[m3];
                    bestCode[0] = k0;
                    bestCode[1] = m1;
                    bestCode[2] = m2;
                    bestCode[3] = m3;
                    improved = true;
                    sets = Beats(rowC, rowE, bestC2, bestE, m3 + 1);
                }
                rows = improved ? open(m2 + 1) : rows & (rows - 1);
            }
        }
    }
}

#if defined(VNTR_SIMD_SSE2)
namespace sse2 {
namespace {

// Four lanes of (a op b) loaded from unaligned memory.
inline __m128 Load(const float *p) {
    return _mm_loadu_ps(p);
}

// The eight lanes m of x where c^2 bestE > bestC2 e, as bits.
inline unsigned Beats(__m128 c0, __m128 c1, __m128 e0, __m128 e1, float bestC2, float bestE) {
    const __m128 vE = _mm_set1_ps(bestE);
    const __m128 vC2 = _mm_set1_ps(bestC2);
    const unsigned lo =
        static_cast<unsigned>(_mm_movemask_ps(_mm_cmpgt_ps(_mm_mul_ps(_mm_mul_ps(c0, c0), vE), _mm_mul_ps(vC2, e0))));
    const unsigned hi =
        static_cast<unsigned>(_mm_movemask_ps(_mm_cmpgt_ps(_mm_mul_ps(_mm_mul_ps(c1, c1), vE), _mm_mul_ps(vC2, e1))));
    return lo | hi << 4;
}

// One row: the eight placings of pulse 3 (m3 = 0..7) behind a placing of
// pulses 0..2.
struct Row {
    alignas(16) float c[kTrack]; // sum of |d| at the four pulses
    alignas(16) float e[kTrack]; // energy of the filtered signed pulses
};

} // namespace

void SearchSets(const Tables &tables, int *bestCode) {
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 vMaxD3 = _mm_set1_ps(tables.maxD3);
    float bestC2 = tables.floor;
    float bestE = 1.0f;
    for (int k0 = 0; k0 < kTrack; ++k0) {
        for (int m1 = 0; m1 < kTrack; ++m1) {
            const int t1 = (k0 + m1) & (kTrack - 1);
            const float c1 = tables.d0[k0] + tables.d1[t1];
            const float e1 = tables.self0[k0] + tables.self1[t1] + 2.0f * tables.phi01[k0][t1];
            // Pulses 2 and 3 on their own and against pulses 0 and 1, by place.
            alignas(16) float e2[2 * kTrack], b3[2 * kTrack];
            const __m128 ve1 = _mm_set1_ps(e1);
            for (int q = 0; q < kTrack; q += 4) {
                const __m128 x2 = _mm_add_ps(_mm_load_ps(tables.phi02[k0] + q), _mm_load_ps(tables.phi12[t1] + q));
                const __m128 v2 = _mm_add_ps(_mm_add_ps(ve1, _mm_load_ps(tables.self2 + q)), _mm_mul_ps(two, x2));
                const __m128 x3 = _mm_add_ps(_mm_load_ps(tables.phi03[k0] + q), _mm_load_ps(tables.phi13[t1] + q));
                const __m128 v3 = _mm_add_ps(_mm_load_ps(tables.self3 + q), _mm_mul_ps(two, x3));
                _mm_store_ps(e2 + q, v2);
                _mm_store_ps(e2 + kTrack + q, v2);
                _mm_store_ps(b3 + q, v3);
                _mm_store_ps(b3 + kTrack + q, v3);
            }
            // The least b3 (a NaN anywhere only loosens the bound or turns it off).
            __m128 least = _mm_min_ps(_mm_load_ps(b3), _mm_load_ps(b3 + 4));
            least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(1, 0, 3, 2)));
            least = _mm_min_ps(least, _mm_shuffle_ps(least, least, _MM_SHUFFLE(2, 3, 0, 1)));

            // By row m2 (pulse 2 at place t1 + m2): c up to pulse 2, and the bounds.
            const __m128 vc1 = _mm_set1_ps(c1);
            const __m128 vMinB3 = _mm_shuffle_ps(least, least, 0);
            alignas(16) float c2[kTrack];
            __m128 cMax[2], eMin[2];
            for (int q = 0; q < 2; ++q) {
                const __m128 c = _mm_add_ps(vc1, Load(tables.d2 + t1 + 4 * q));
                _mm_store_ps(c2 + 4 * q, c);
                cMax[q] = _mm_add_ps(c, vMaxD3);
                eMin[q] = _mm_add_ps(Load(e2 + t1 + 4 * q), _mm_add_ps(vMinB3, Load(tables.minCross + t1 + 4 * q)));
            }
            // Rows that may hold a set beating the best, from row `from` on.
            const auto open = [&](int from) {
                const unsigned rows = bestE >= 0.0f ? Beats(cMax[0], cMax[1], eMin[0], eMin[1], bestC2, bestE) : 0xffu;
                return rows & (0xffu << from);
            };
            for (unsigned rows = open(0); rows != 0;) {
                const int m2 = __builtin_ctz(rows);
                const int t2 = (t1 + m2) & (kTrack - 1);
                const __m128 vc2 = _mm_set1_ps(c2[m2]);
                const __m128 ve2 = _mm_set1_ps(e2[t2]);
                Row row;
                for (int q = 0; q < kTrack; q += 4) {
                    _mm_store_ps(row.c + q, _mm_add_ps(vc2, Load(tables.d3 + t2 + q)));
                    _mm_store_ps(row.e + q,
                                 _mm_add_ps(ve2, _mm_add_ps(Load(b3 + t2 + q), _mm_load_ps(tables.cross23[t2] + q))));
                }
                const auto beating = [&](int from) {
                    const unsigned sets = Beats(_mm_load_ps(row.c), _mm_load_ps(row.c + 4), _mm_load_ps(row.e),
                                                _mm_load_ps(row.e + 4), bestC2, bestE);
                    return sets & (0xffu << from);
                };
                bool improved = false;
                for (unsigned sets = beating(0); sets != 0;) {
                    const int m3 = __builtin_ctz(sets);
                    bestC2 = row.c[m3] * row.c[m3];
                    bestE = row.e[m3];
                    bestCode[0] = k0;
                    bestCode[1] = m1;
                    bestCode[2] = m2;
                    bestCode[3] = m3;
                    improved = true;
                    sets = beating(m3 + 1);
                }
                rows = improved ? open(m2 + 1) : rows & (rows - 1);
            }
        }
    }
}

} // namespace sse2
#endif

void SearchSets(dsp::Simd simd, const Tables &tables, int *bestCode) {
#if defined(VNTR_SIMD_AVX2)
    if (simd == dsp::Simd::Avx2) return avx2::SearchSets(tables, bestCode);
#endif
#if defined(VNTR_SIMD_SSE2)
    if (simd >= dsp::Simd::Sse2) return sse2::SearchSets(tables, bestCode);
#endif
    (void)simd;
    SearchSets(tables, bestCode);
}

} // namespace vntr::vt120::pulses
