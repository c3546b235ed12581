// The pitch search's scoring for processors with AVX2.  Lane j of a register
// sums the score of one entry exactly as the plain loop does (from +0, the
// twenty statistics in order, a product and a sum two roundings: no fused
// multiply-add is asked for), so every score is the baseline's to the last bit.
#include "pitch_scores.hpp"

#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>

namespace vntr::vt120::avx2 {
namespace {

constexpr int kRows = 20;

// The statistics in the order of the codebook's derived rows.
void Flatten(const dsp::PredictorStatistics &stats, float *flat) {
    for (int j = 0; j < dsp::kPredictorTaps; ++j) {
        flat[j] = stats.c[j];
        flat[5 + j] = stats.e[j];
    }
    for (int p = 0; p < 10; ++p) flat[10 + p] = stats.x[p];
}

} // namespace

VNTR_TARGET_AVX2 PredictorPair BestPredictorPair(const dsp::PredictorStatistics *stats,
                                                 const dsp::PredictorCodebook &codebook) {
    float flat[kPitchCandidates][kRows];
    for (int c = 0; c < kPitchCandidates; ++c) Flatten(stats[c], flat[c]);

    // Lane j keeps the best of the pairs (entry 8 b + j, lag c), visited in
    // the search's order, and that pair's place in the whole visiting order
    // (3 entry + lag): the first of the highest score across lanes is then
    // the search's choice.
    const __m256i lane = _mm256_setr_epi32(0, 3, 6, 9, 12, 15, 18, 21);
    __m256 best = _mm256_set1_ps(-3e38f);
    __m256i place = _mm256_setzero_si256();
    for (int e0 = 0; e0 < dsp::kPredictorEntries; e0 += 8) {
        __m256 acc[kPitchCandidates];
        for (int c = 0; c < kPitchCandidates; ++c) acc[c] = _mm256_setzero_ps();
        for (int k = 0; k < kRows; ++k) {
            const __m256 row = _mm256_loadu_ps(codebook.search[k] + e0);
            for (int c = 0; c < kPitchCandidates; ++c) {
                acc[c] = _mm256_add_ps(acc[c], _mm256_mul_ps(_mm256_set1_ps(flat[c][k]), row));
            }
        }
        for (int c = 0; c < kPitchCandidates; ++c) {
            const __m256 higher = _mm256_cmp_ps(acc[c], best, _CMP_GT_OQ); // false for a NaN
            const __m256i at = _mm256_add_epi32(lane, _mm256_set1_epi32(3 * e0 + c));
            best = _mm256_blendv_ps(best, acc[c], higher);
            place = _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(place), _mm256_castsi256_ps(at), higher));
        }
    }
    alignas(32) float bests[8];
    alignas(32) int places[8];
    _mm256_store_ps(bests, best);
    _mm256_store_si256(reinterpret_cast<__m256i *>(places), place);
    float top = -3e38f;
    for (float b : bests) top = b > top ? b : top;
    int first = 0; // nothing above -3e38: the search's start, (0, 0)
    if (top > -3e38f) {
        first = 3 * dsp::kPredictorEntries;
        for (int j = 0; j < 8; ++j) {
            if (bests[j] == top && places[j] < first) first = places[j];
        }
    }
    return {first / kPitchCandidates, first % kPitchCandidates};
}

} // namespace vntr::vt120::avx2

#endif
