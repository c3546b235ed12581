// The plain kernels of both banks: the windowings and the two matrixings as
// the standard writes them down, one product at a time. The fast kernels of
// filterbank.cpp are held to these by the tests; the analysis runs them on a
// handle opened with Simd::Plain.
#include "filterbank.h"
#include "filterbank_tables.h"
#include "iso11172_windows.h"

namespace vntr::audiocoder::kernel {

void AnalysisWindowPlain(const float *ring, int offset, float *y) {
    for (int i = 0; i < 64; ++i) y[i] = 0.0f;
    for (int j = 0; j < 8; ++j) {
        const int base = 64 * j;
        for (int i = 0; i < 64; ++i) y[i] += kAnalysisWindow[base + i] * ring[offset + base + i];
    }
}

void AnalysisMatrixPlain(const float *y, float *out) {
    const Cosines &m = MatrixCosines();
    for (int k = 0; k < 32; ++k) {
        float sum = 0.0f;
        for (int i = 0; i < 64; ++i) sum += m.analysis[i][k] * y[i];
        out[k] = sum;
    }
}

void SynthesisMatrixPlain(const float *in, float *v) {
    const Cosines &m = MatrixCosines();
    for (int i = 0; i < 64; ++i) {
        float sum = 0.0f;
        for (int k = 0; k < 32; ++k) sum += m.synthesis[i][k] * in[k];
        v[i] = sum;
    }
}

void SynthesisWindowPlain(const float *v, int offset, float *out) {
    // V'[m] = v[offset + m]: from every 128 values the first and the last 32 are used.
    for (int j = 0; j < 32; ++j) out[j] = 0.0f;
    for (int i = 0; i < 8; ++i) {
        const int first = (offset + 128 * i) & 1023;
        const int last = (offset + 128 * i + 96) & 1023;
        const float *d0 = kSynthesisWindow + 64 * i;
        const float *d1 = kSynthesisWindow + 64 * i + 32;
        // A run of 32 starting at a multiple of 32 never wraps.
        for (int j = 0; j < 32; ++j) out[j] += d0[j] * v[first + j] + d1[j] * v[last + j];
    }
    for (int j = 0; j < 32; ++j) out[j] *= 32768.0f;
}

} // namespace vntr::audiocoder::kernel
