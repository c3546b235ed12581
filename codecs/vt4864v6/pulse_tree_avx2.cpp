// The leaf kernel of the exhaustive pulse search for processors with AVX2:
// eight leaves a register, each lane computing exactly what the plain kernel
// computes for its leaf (the same operations in the same order, no fused
// multiply-add), so the energies and correlations are the plain kernel's to
// the last bit.  The comparison with the best path is made for all sixteen
// leaves against the best before the block; only a block where some leaf
// beats it (rare once the walk is under way) is settled leaf by leaf in
// order, as the plain kernel does.
#include "pulse_tree.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VT4864_AVX2 __attribute__((target("avx2")))
#endif

namespace vntr::vt4864v6 {

#if defined(VT4864_AVX2)

TreeSimd DetectTreeSimd() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? TreeSimd::Avx2 : TreeSimd::Plain;
}

namespace avx2 {

VT4864_AVX2 int ScoreLeaves(const LeafBlock &block, const float *c5, float e5, float s5, TreeBest &best) {
    alignas(32) float e[kLeaves];
    alignas(32) float s[kLeaves];
    const __m256 ve5 = _mm256_set1_ps(e5);
    const __m256 vs5 = _mm256_set1_ps(s5);
    const __m256 two = _mm256_set1_ps(2.0f);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 bestE = _mm256_set1_ps(best.e);
    const __m256 bestS2 = _mm256_set1_ps(best.s2);
    // Pulse 6's cross value of each lane: leaves 0..7 take choices 0, 0, 0, 0, 1, 1, 1, 1.
    const __m128 c6 = _mm_set_ps(c5[block.i6[3]], c5[block.i6[2]], c5[block.i6[1]], c5[block.i6[0]]);
    int better = 0;
    for (int half = 0; half < 2; ++half) {
        const int at = 8 * half;
        const __m128 pair = half == 0 ? _mm_unpacklo_ps(c6, c6) : _mm_unpackhi_ps(c6, c6); // j j j' j'
        const __m256 c6v = _mm256_set_m128(_mm_unpackhi_ps(pair, pair), _mm_unpacklo_ps(pair, pair));
        const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block.i7 + at));
        const __m256 c7v = _mm256_i32gather_ps(c5, index, 4);
        const __m256 q = _mm256_loadu_ps(block.q + at);
        const __m256 a = _mm256_loadu_ps(block.a + at);
        const __m256 ev = _mm256_add_ps(_mm256_add_ps(ve5, q), _mm256_mul_ps(two, _mm256_add_ps(c6v, c7v)));
        const __m256 sv = _mm256_add_ps(vs5, a);
        const __m256 score = _mm256_mul_ps(_mm256_mul_ps(sv, sv), bestE);
        const __m256 bar = _mm256_mul_ps(bestS2, ev);
        const __m256 wins = _mm256_and_ps(_mm256_cmp_ps(ev, zero, _CMP_GT_OQ), _mm256_cmp_ps(score, bar, _CMP_GT_OQ));
        better |= _mm256_movemask_ps(wins) << at;
        _mm256_store_ps(e + at, ev);
        _mm256_store_ps(s + at, sv);
    }
    if (better == 0) return -1;
    // A leaf that beats the best before the block: settle the block in order
    // from the first such leaf (those before it beat nothing).
    int chosen = -1;
    for (int l = __builtin_ctz(static_cast<unsigned>(better)); l < kLeaves; ++l) {
        if (e[l] > 0.0f && s[l] * s[l] * best.e > best.s2 * e[l]) {
            best.s = s[l];
            best.s2 = s[l] * s[l];
            best.e = e[l];
            chosen = l;
        }
    }
    return chosen;
}

} // namespace avx2

#else

TreeSimd DetectTreeSimd() { return TreeSimd::Plain; }

namespace avx2 {
int ScoreLeaves(const LeafBlock &block, const float *c5, float e5, float s5, TreeBest &best) {
    return vntr::vt4864v6::ScoreLeaves(block, c5, e5, s5, best);
}
} // namespace avx2

#endif

} // namespace vntr::vt4864v6
