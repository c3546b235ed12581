#include <vntr/dsp/pitch_analysis.hpp>
#include <vntr/dsp/vector.hpp>

#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>
#endif

namespace vntr::dsp {

namespace {

#if defined(VNTR_SIMD_AVX2)
// Eight lags a register, each kept there over the whole block: lane j adds
// its terms in the order of n, a product and a sum two roundings (no fused
// multiply-add is asked for), as Axpy adds them.
VNTR_TARGET_AVX2 void CorrelationsWide(const float *cur, int length, int maxLag, int lags, float *k) {
    int j = 0;
    for (; j + 8 <= lags; j += 8) {
        const float *x = cur - maxLag + j;
        __m256 acc = _mm256_setzero_ps();
        for (int n = 0; n < length; ++n)
            acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_set1_ps(cur[n]), _mm256_loadu_ps(x + n)));
        _mm256_storeu_ps(k + j, acc);
    }
    for (; j < lags; ++j) {
        const float *x = cur - maxLag + j;
        float acc = 0.0f;
        for (int n = 0; n < length; ++n) acc += cur[n] * x[n];
        k[j] = acc;
    }
}
#endif

} // namespace

void OpenLoopCorrelations(const float *cur, int length, int minLag, int maxLag, Simd simd, float *k) {
    const int lags = maxLag - minLag + 1;
#if defined(VNTR_SIMD_AVX2)
    if (simd == Simd::Avx2) {
        CorrelationsWide(cur, length, maxLag, lags, k);
        return;
    }
#else
    (void)simd;
#endif
    for (int j = 0; j < lags; ++j) k[j] = 0.0f;
    for (int n = 0; n < length; ++n) Axpy(cur[n], cur + n - maxLag, k, lags);
}

int OpenLoopPitch(const float *cur, int length, int minLag, int maxLag, Simd simd) {
    // Correlations of all lags at once, longest lag first: k[j] is lag maxLag - j.
    float k[kMaxOpenLoopLags];
    OpenLoopCorrelations(cur, length, minLag, maxLag, simd, k);
    // Energy of the delayed block, updated from lag to lag; kept in double so
    // that the running update does not drift.
    double energy = 0.0;
    for (int n = 0; n < length; ++n) energy += static_cast<double>(cur[n - minLag]) * cur[n - minLag];
    double best = 0.0;
    int bestLag = minLag;
    for (int t = minLag; t <= maxLag; ++t) {
        if (t > minLag) {
            energy += static_cast<double>(cur[-t]) * cur[-t];
            energy -= static_cast<double>(cur[length - t]) * cur[length - t];
        }
        const float kt = k[maxLag - t];
        if (kt <= 0.0f || energy <= 0.0) continue;
        const double score = static_cast<double>(kt) * kt / energy;
        if (score > best) {
            if (t - bestLag < 18 || score > 1.333 * best) {
                best = score;
                bestLag = t;
            }
        }
    }
    return bestLag;
}

HarmonicWeighting HarmonicNoiseWeighting(const float *cur, int length, int openLoopLag, float *t0) {
    const float e0 = Dot(cur, cur, length);
    int bestLag = -1;
    float bestK = 0.0f;
    float bestE = 0.0f;
    double bestScore = 0.0;
    for (int d = openLoopLag - 3; d <= openLoopLag + 3; ++d) {
        const float k = Dot(cur, cur - d, length);
        const float e = Dot(cur - d, cur - d, length);
        if (k <= 0.0f || e <= 0.0f) continue;
        const double score = static_cast<double>(k) * k / e;
        if (bestLag < 0 || score > bestScore) {
            bestLag = d;
            bestScore = score;
            bestK = k;
            bestE = e;
        }
    }
    HarmonicWeighting hw{-1, 0.0f};
    if (bestLag >= 0) {
        hw.lag = bestLag;
        if (0.375 * e0 <= bestScore) hw.gain = bestK >= bestE ? 0.3125f : 0.3125f * bestK / bestE;
    }
    for (int n = 0; n < length; ++n) t0[n] = hw.lag >= 0 ? cur[n] - hw.gain * cur[n - hw.lag] : cur[n];
    return hw;
}

} // namespace vntr::dsp
