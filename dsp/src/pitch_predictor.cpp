#include <vntr/dsp/pitch_predictor.hpp>
#include <vntr/dsp/vector.hpp>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif
#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>
#endif

namespace vntr::dsp {

void BuildExtendedVector(const float *end, int lag, int length, float *v) {
    v[0] = end[-lag - 2];
    v[1] = end[-lag - 1];
    const float *period = end - lag;
    int phase = 0;
    for (int m = 0; m < length + 2; ++m) {
        v[2 + m] = period[phase];
        if (++phase == lag) phase = 0;
    }
}

namespace {

#if defined(VNTR_SIMD_AVX2)
// Four outputs a register, each lane summing its five products in order from
// +0; a product and a sum two roundings (no fused multiply-add is asked for).
VNTR_TARGET_AVX2 int PitchExcitationWide(const float *v, const double *b, int length, float *e) {
    int n = 0;
    for (; n + 4 <= length; n += 4) {
        __m256d acc = _mm256_setzero_pd();
        for (int j = 0; j < kPredictorTaps; ++j) {
            acc = _mm256_add_pd(acc, _mm256_mul_pd(_mm256_set1_pd(b[j]), _mm256_cvtps_pd(_mm_loadu_ps(v + n + j))));
        }
        _mm_storeu_ps(e + n, _mm256_cvtpd_ps(acc));
    }
    return n;
}
#endif

} // namespace

void BuildPitchExcitation(const float *end, int lag, int entry, int length, const PredictorCodebook &codebook, float *e,
                          Simd simd) {
    float v[kPredictorMaxLength + 4];
    BuildExtendedVector(end, lag, length, v);
    const double *b = codebook.taps[entry & (kPredictorEntries - 1)];
    int n = 0;
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) n = PitchExcitationWide(v, b, length, e);
#else
    (void)simd;
#endif
    for (; n < length; ++n) {
        double acc = 0.0;
        for (int j = 0; j < kPredictorTaps; ++j) acc += b[j] * v[n + j];
        e[n] = static_cast<float>(acc);
    }
}

void LimitExcitation(float *e, int length) {
    int n = 0;
#if defined(VNTR_SIMD_SSE2)
    // Four at a time without branches: a NaN masked to +0 first, then
    // min(x, limit) gives the limit above it and x itself up to it (a -0
    // included), max(x, -limit) likewise below.
    const __m128 high = _mm_set1_ps(kExcitationLimit);
    const __m128 low = _mm_set1_ps(-kExcitationLimit);
    for (; n + 4 <= length; n += 4) {
        __m128 x = _mm_loadu_ps(e + n);
        x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
        _mm_storeu_ps(e + n, _mm_max_ps(_mm_min_ps(x, high), low));
    }
#endif
    for (; n < length; ++n) {
        if (e[n] > kExcitationLimit)
            e[n] = kExcitationLimit;
        else if (e[n] < -kExcitationLimit)
            e[n] = -kExcitationLimit;
        else if (e[n] != e[n])
            e[n] = 0.0f;
    }
}

PredictorStatistics FilterPredictorViews(const float *v, const float *h, const float *target, int length,
                                         float (*y)[kPredictorMaxLength]) {
    // View 4 first, over the whole extended span; each lower view then follows
    // from the one above it: y_j(n) = y_{j+1}(n - 1) + h(n) v(j), with y_j(0) = h(0) v(j).
    float full[kPredictorMaxLength] = {};
    for (int i = 0; i < length; ++i) Axpy(h[i], v + 4, full + i, length - i);
    for (int n = 0; n < length; ++n) y[4][n] = full[n];
    for (int j = 3; j >= 0; --j) {
        y[j][0] = h[0] * v[j];
        for (int n = 1; n < length; ++n) y[j][n] = y[j + 1][n - 1] + h[n] * v[j];
    }
    PredictorStatistics stats{};
    for (int j = 0; j < kPredictorTaps; ++j) {
        stats.c[j] = Dot(target, y[j], length);
        stats.e[j] = Dot(y[j], y[j], length);
    }
    int pair = 0;
    for (int j = 1; j < kPredictorTaps; ++j) {
        for (int k = 0; k < j; ++k) stats.x[pair++] = Dot(y[j], y[k], length);
    }
    return stats;
}

namespace {

// The twenty statistics in the order of the codebook's derived rows.
void Flatten(const PredictorStatistics &stats, float *flat) {
    for (int j = 0; j < kPredictorTaps; ++j) {
        flat[j] = stats.c[j];
        flat[5 + j] = stats.e[j];
    }
    for (int p = 0; p < 10; ++p) flat[10 + p] = stats.x[p];
}

} // namespace

void PredictorScores(const PredictorStatistics &stats, const PredictorCodebook &codebook, float *scores) {
    // All entries at once, one statistic at a time.
    // Blocks of entries kept in registers across the twenty statistics; each
    // entry's sum runs in the order of the rows.
    float flat[20];
    Flatten(stats, flat);
    constexpr int kBlock = 16;
    for (int e0 = 0; e0 < kPredictorEntries; e0 += kBlock) {
        float acc[kBlock] = {};
        for (int k = 0; k < 20; ++k) {
            const float *row = codebook.search[k] + e0;
            for (int j = 0; j < kBlock; ++j) acc[j] += flat[k] * row[j];
        }
        for (int j = 0; j < kBlock; ++j) scores[e0 + j] = acc[j];
    }
}

float PredictorScore(const PredictorStatistics &stats, const PredictorCodebook &codebook, int entry) {
    float flat[20];
    Flatten(stats, flat);
    float score = 0.0f;
    for (int k = 0; k < 20; ++k) score += codebook.search[k][entry] * flat[k];
    return score;
}

int SearchPredictor(const PredictorStatistics &stats, const PredictorCodebook &codebook) {
    float score[kPredictorEntries];
    PredictorScores(stats, codebook, score);
    float best = -3e38f;
    int bestEntry = 0;
    for (int entry = 0; entry < kPredictorEntries; ++entry) {
        if (score[entry] > best) {
            best = score[entry];
            bestEntry = entry;
        }
    }
    return bestEntry;
}

} // namespace vntr::dsp
