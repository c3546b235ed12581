// The analysis matrixing again for processors with AVX2: eight subbands a
// register instead of four, each sum still taken term by term in the order of
// i, a product and a sum still two roundings (no fused multiply-add is asked
// for), so the subband samples are the plain kernel's to the last bit. Only
// the function marked for AVX2 uses it; a handle runs it when the processor
// reported AVX2 at open.
#include "filterbank.h"
#include "filterbank_tables.h"

#if defined(VNTR_SIMD_AVX2)
#include <immintrin.h>

namespace vntr::audiocoder::kernel {

VNTR_TARGET_AVX2 void AnalysisMatrixAvx2(const float *y, float *out) {
    const Cosines &m = MatrixCosines();
    __m256 acc[4];
    for (__m256 &a : acc) a = _mm256_setzero_ps();
    for (int i = 0; i < 64; ++i) {
        const __m256 yi = _mm256_set1_ps(y[i]);
        const float *row = m.analysis[i];
        for (int q = 0; q < 4; ++q) acc[q] = _mm256_add_ps(acc[q], _mm256_mul_ps(_mm256_load_ps(row + 8 * q), yi));
    }
    for (int q = 0; q < 4; ++q) _mm256_storeu_ps(out + 8 * q, acc[q]);
}

} // namespace vntr::audiocoder::kernel

#else

namespace vntr::audiocoder::kernel {
// Never chosen here (dsp::DetectSimd() does not report AVX2); the plain sums stand in.
void AnalysisMatrixAvx2(const float *y, float *out) {
    AnalysisMatrixPlain(y, out);
}
} // namespace vntr::audiocoder::kernel

#endif
