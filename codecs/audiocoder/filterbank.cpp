#include "filterbank.h"

#include "iso11172_windows.h"

#include <cmath>
#include <numbers>

namespace vntr::audiocoder {
namespace {

// Matrixing cosines of both banks, computed once in double precision.
struct Cosines {
    // analysis: M[k][i] = cos((2k + 1)(i - 16) pi / 64), k = 0..31, i = 0..63
    alignas(32) float analysis[32][64];
    // synthesis: N[i][k] = cos((16 + i)(2k + 1) pi / 64), i = 0..63, k = 0..31
    alignas(32) float synthesis[64][32];

    Cosines() {
        for (int k = 0; k < 32; ++k)
            for (int i = 0; i < 64; ++i) {
                analysis[k][i] = static_cast<float>(std::cos((2 * k + 1) * (i - 16) * std::numbers::pi / 64.0));
                synthesis[i][k] = static_cast<float>(std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64.0));
            }
    }
};

const Cosines &Matrices() {
    static const Cosines cosines;
    return cosines;
}

constexpr float kInputScale = 1.0f / 32768.0f;

} // namespace

void ResetAnalysis(AnalysisState &s) {
    s.ring.fill(0.0f);
    s.offset = 0;
}

void ResetSynthesis(SynthesisState &s) {
    s.v.fill(0.0f);
    s.offset = 64;
}

void Analyse(AnalysisState &s, const float *in, float *out) {
    for (int t = 0; t < 32; ++t) s.ring[static_cast<std::size_t>((s.offset + 31 - t) & 511)] = in[t] * kInputScale;

    // Windowing and the partial sums Y[i] = sum_j C[i + 64j] * X[i + 64j].
    alignas(32) float y[64];
    for (int i = 0; i < 64; ++i) y[i] = 0.0f;
    for (int j = 0; j < 8; ++j) {
        const int base = 64 * j;
        const int start = (s.offset + base) & 511;
        const int firstRun = 512 - start < 64 ? 512 - start : 64; // the ring wraps at most once per row
        for (int i = 0; i < firstRun; ++i) y[i] += kAnalysisWindow[base + i] * s.ring[static_cast<std::size_t>(start + i)];
        for (int i = firstRun; i < 64; ++i)
            y[i] += kAnalysisWindow[base + i] * s.ring[static_cast<std::size_t>(start + i - 512)];
    }

    const Cosines &m = Matrices();
    for (int k = 0; k < 32; ++k) {
        float sum = 0.0f;
        for (int i = 0; i < 64; ++i) sum += m.analysis[k][i] * y[i];
        out[k] = sum;
    }
    s.offset = (s.offset - 32) & 511;
}

void Synthesise(SynthesisState &s, const float *in, float *out) {
    s.offset = (s.offset - 64) & 1023;
    const Cosines &m = Matrices();
    for (int i = 0; i < 64; ++i) {
        float sum = 0.0f;
        for (int k = 0; k < 32; ++k) sum += m.synthesis[i][k] * in[k];
        s.v[static_cast<std::size_t>((s.offset + i) & 1023)] = sum;
    }

    // V'[m] = V[offset + m]: from every 128 values the first and the last 32 are used.
    for (int j = 0; j < 32; ++j) out[j] = 0.0f;
    for (int i = 0; i < 8; ++i) {
        const int first = (s.offset + 128 * i) & 1023;
        const int last = (s.offset + 128 * i + 96) & 1023;
        const float *d0 = kSynthesisWindow + 64 * i;
        const float *d1 = kSynthesisWindow + 64 * i + 32;
        // A run of 32 starting at a multiple of 64 never wraps.
        for (int j = 0; j < 32; ++j)
            out[j] += d0[j] * s.v[static_cast<std::size_t>(first + j)] + d1[j] * s.v[static_cast<std::size_t>(last + j)];
    }
    for (int j = 0; j < 32; ++j) out[j] *= 32768.0f;
}

} // namespace vntr::audiocoder
