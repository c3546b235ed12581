// The kernels of the exhaustive pulse search for processors with AVX2: eight
// values a register, each lane computing exactly what the plain kernel
// computes (the same operations in the same order, no fused multiply-add), so
// every energy and correlation is the plain kernel's to the last bit.  The
// leaves of a call are compared with the best path before the call; only a
// call where some leaf beats it (rare once the walk is under way) is settled
// leaf by leaf in order, as the plain kernel does.
#include "pulse_tree.hpp"

#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>

namespace vntr::vt4864v6::avx2 {

VNTR_TARGET_AVX2 int ScoreLeaves(const LeafBlock *const *children, const NodeView &node, TreeBest &best) {
    const __m256 vs4 = _mm256_set1_ps(node.s4);
    const __m256 two = _mm256_set1_ps(2.0f);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 bestE = _mm256_set1_ps(best.e);
    const __m256 bestS2 = _mm256_set1_ps(best.s2);
    uint64_t better = 0;
    for (int i = 0; i < kChildren; ++i) {
        const LeafBlock &block = *children[i];
        const float c4 = node.c3[block.p5] + node.r4[block.p5];
        const __m256 base = _mm256_set1_ps(node.e4 + 2.0f * c4);
        for (int half = 0; half < 2; ++half) {
            const int at = 8 * half;
            // Pulse-6 choices 2 half and 2 half + 1, four leaves (the pulse-7 steps) each.
            const int first = 4 * block.p6[at];
            const int second = 4 * block.p6[at + 4];
            const __m256 c = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(node.pairs3 + first)),
                                                  _mm_load_ps(node.pairs3 + second), 1);
            const __m256 r = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_load_ps(node.pairs4 + first)),
                                                  _mm_load_ps(node.pairs4 + second), 1);
            const __m256 q = _mm256_loadu_ps(block.q + at);
            const __m256 a = _mm256_loadu_ps(block.a + at);
            const __m256 ev = _mm256_add_ps(_mm256_add_ps(base, q), _mm256_mul_ps(two, _mm256_add_ps(c, r)));
            const __m256 sv = _mm256_add_ps(vs4, a);
            const __m256 score = _mm256_mul_ps(_mm256_mul_ps(sv, sv), bestE);
            const __m256 bar = _mm256_mul_ps(bestS2, ev);
            const __m256 wins =
                _mm256_and_ps(_mm256_cmp_ps(ev, zero, _CMP_GT_OQ), _mm256_cmp_ps(score, bar, _CMP_GT_OQ));
            better |= static_cast<uint64_t>(static_cast<unsigned>(_mm256_movemask_ps(wins))) << (kLeaves * i + at);
        }
    }
    if (better == 0) return -1;
    // A leaf that beats the best before the call: settle the leaves in order
    // from the first such leaf (those before it beat nothing), computed again
    // as the plain kernel computes them, operation for operation.
    const int first = __builtin_ctzll(better);
    int chosen = -1;
    for (int i = first / kLeaves; i < kChildren; ++i) {
        const LeafBlock &block = *children[i];
        const float c4 = node.c3[block.p5] + node.r4[block.p5];
        const float base = node.e4 + 2.0f * c4;
        for (int l = i == first / kLeaves ? first % kLeaves : 0; l < kLeaves; ++l) {
            const int at = 4 * block.p6[l] + (l & 3);
            const float e = (base + block.q[l]) + 2.0f * (node.pairs3[at] + node.pairs4[at]);
            const float s = node.s4 + block.a[l];
            if (e > 0.0f && s * s * best.e > best.s2 * e) {
                best.s = s;
                best.s2 = s * s;
                best.e = e;
                chosen = kLeaves * i + l;
            }
        }
    }
    return chosen;
}

VNTR_TARGET_AVX2 void StepPairs(const float *w, const uint8_t *steps, int length, float *v) {
    // Eight positions at a time, the four rows w(x) + w(x + step) turned into side-by-side fours.
    for (int x = 0; x < length; x += 8) {
        const __m256 c = _mm256_loadu_ps(w + x);
        const __m256 v0 = _mm256_add_ps(c, _mm256_loadu_ps(w + x + steps[0]));
        const __m256 v1 = _mm256_add_ps(c, _mm256_loadu_ps(w + x + steps[1]));
        const __m256 v2 = _mm256_add_ps(c, _mm256_loadu_ps(w + x + steps[2]));
        const __m256 v3 = _mm256_add_ps(c, _mm256_loadu_ps(w + x + steps[3]));
        const __m256 t0 = _mm256_unpacklo_ps(v0, v1);
        const __m256 t1 = _mm256_unpackhi_ps(v0, v1);
        const __m256 t2 = _mm256_unpacklo_ps(v2, v3);
        const __m256 t3 = _mm256_unpackhi_ps(v2, v3);
        const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44); // x, x + 4
        const __m256 u1 = _mm256_shuffle_ps(t0, t2, 0xEE); // x + 1, x + 5
        const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44); // x + 2, x + 6
        const __m256 u3 = _mm256_shuffle_ps(t1, t3, 0xEE); // x + 3, x + 7
        float *out = v + 4 * x;
        _mm256_storeu_ps(out, _mm256_permute2f128_ps(u0, u1, 0x20));
        _mm256_storeu_ps(out + 8, _mm256_permute2f128_ps(u2, u3, 0x20));
        _mm256_storeu_ps(out + 16, _mm256_permute2f128_ps(u0, u1, 0x31));
        _mm256_storeu_ps(out + 24, _mm256_permute2f128_ps(u2, u3, 0x31));
    }
}

VNTR_TARGET_AVX2 void AddRow(const float *in, const float *row, float *out, int count) {
    int n = 0;
    for (; n + 8 <= count; n += 8) {
        _mm256_storeu_ps(out + n, _mm256_add_ps(_mm256_loadu_ps(in + n), _mm256_loadu_ps(row + n)));
    }
    for (; n < count; ++n) out[n] = in[n] + row[n];
}

} // namespace vntr::vt4864v6::avx2

#endif
