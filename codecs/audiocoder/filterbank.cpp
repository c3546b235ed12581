#include "filterbank.h"

#include "filterbank_tables.h"
#include "iso11172_windows.h"

#include <cmath>
#include <numbers>

#if defined(VNTR_SIMD_SSE2)
#include <emmintrin.h>
#endif

namespace vntr::audiocoder {

Cosines::Cosines() {
    for (int i = 0; i < 64; ++i)
        for (int k = 0; k < 32; ++k) {
            analysis[i][k] = static_cast<float>(std::cos((2 * k + 1) * (i - 16) * std::numbers::pi / 64.0));
            synthesis[i][k] = static_cast<float>(std::cos((16 + i) * (2 * k + 1) * std::numbers::pi / 64.0));
        }
    for (int n = 32; n >= 2; n /= 2)
        for (int k = 0; k < n / 2; ++k)
            butterfly[32 - n + k] = static_cast<float>(0.5 / std::cos((2 * k + 1) * std::numbers::pi / (2.0 * n)));
    butterfly[31] = 0.0f;
}

const Cosines &MatrixCosines() {
    static const Cosines cosines;
    return cosines;
}

namespace {

constexpr float kInputScale = 1.0f / 32768.0f;

// The n-point transforms by the even/odd split: an n-point transform is two
// of n/2 points and n/2 products with the factors 1 / (2 cos(pi (2k + 1) / 2n)).
// f: the factors of every size (Cosines::butterfly).
template <int N>
inline void Dct2Split(const float *in, float *out, const float *f) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int H = N / 2;
        const float *c = f + (32 - N);
        float sum[H], difference[H], even[H], odd[H];
        for (int k = 0; k < H; ++k) {
            sum[k] = in[k] + in[N - 1 - k];
            difference[k] = (in[k] - in[N - 1 - k]) * c[k];
        }
        Dct2Split<H>(sum, even, f);
        Dct2Split<H>(difference, odd, f);
        for (int m = 0; m < H - 1; ++m) {
            out[2 * m] = even[m];
            out[2 * m + 1] = odd[m] + odd[m + 1];
        }
        out[N - 2] = even[H - 1];
        out[N - 1] = odd[H - 1];
    }
}

template <int N>
inline void Dct3Split(const float *in, float *out, const float *f) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int H = N / 2;
        const float *c = f + (32 - N);
        float even[H], odd[H], g[H], h[H];
        even[0] = in[0];
        odd[0] = in[1];
        for (int m = 1; m < H; ++m) {
            even[m] = in[2 * m];
            odd[m] = in[2 * m + 1] + in[2 * m - 1];
        }
        Dct3Split<H>(even, g, f);
        Dct3Split<H>(odd, h, f);
        for (int k = 0; k < H; ++k) {
            const float t = h[k] * c[k];
            out[k] = g[k] + t;
            out[N - 1 - k] = g[k] - t;
        }
    }
}

} // namespace

namespace kernel {

void AnalysisInput(float *ring, int offset, const float *in) {
    for (int t = 0; t < 32; ++t) {
        const float x = in[t] * kInputScale;
        ring[offset + 31 - t] = x;
        ring[offset + 31 - t + 512] = x;
    }
}

void Dct2(const float *in, float *out) {
    Dct2Split<32>(in, out, MatrixCosines().butterfly);
}
void Dct3(const float *in, float *out) {
    Dct3Split<32>(in, out, MatrixCosines().butterfly);
}

void SynthesisMatrixFast(const float *in, float *v) {
    // v[i] = c(16 + i) with c(n) = sum_k in[k] cos(pi n (2k + 1) / 64), the
    // transform x of `in` extended by c(32) = 0, c(64 - n) = -c(n), c(64 + n) = -c(n).
    float x[32];
    Dct2(in, x);
    for (int i = 0; i < 16; ++i) v[i] = x[16 + i];
    v[16] = 0.0f;
    for (int i = 17; i < 48; ++i) v[i] = -x[48 - i];
    for (int i = 48; i < 64; ++i) v[i] = -x[i - 48];
}

#if defined(VNTR_SIMD_SSE2)

void AnalysisWindowSse2(const float *ring, int offset, float *y) {
    const float *x = ring + offset;
    for (int half = 0; half < 64; half += 32) {
        __m128 acc[8];
        for (__m128 &a : acc) a = _mm_setzero_ps();
        for (int j = 0; j < 512; j += 64)
            for (int q = 0; q < 8; ++q) {
                const int i = j + half + 4 * q;
                acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(_mm_loadu_ps(kAnalysisWindow + i), _mm_load_ps(x + i)));
            }
        for (int q = 0; q < 8; ++q) _mm_storeu_ps(y + half + 4 * q, acc[q]);
    }
}

void AnalysisMatrixSse2(const float *y, float *out) {
    const Cosines &m = MatrixCosines();
    __m128 acc[8];
    for (__m128 &a : acc) a = _mm_setzero_ps();
    for (int i = 0; i < 64; ++i) {
        const __m128 yi = _mm_set1_ps(y[i]);
        const float *row = m.analysis[i];
        for (int q = 0; q < 8; ++q) acc[q] = _mm_add_ps(acc[q], _mm_mul_ps(_mm_load_ps(row + 4 * q), yi));
    }
    for (int q = 0; q < 8; ++q) _mm_storeu_ps(out + 4 * q, acc[q]);
}

void SynthesisWindowSse2(const float *v, int offset, float *out) {
    __m128 acc[8];
    for (__m128 &a : acc) a = _mm_setzero_ps();
    for (int i = 0; i < 8; ++i) {
        const float *v0 = v + ((offset + 128 * i) & 1023);
        const float *v1 = v + ((offset + 128 * i + 96) & 1023);
        const float *d0 = kSynthesisWindow + 64 * i;
        const float *d1 = d0 + 32;
        for (int q = 0; q < 8; ++q) {
            const __m128 p0 = _mm_mul_ps(_mm_loadu_ps(d0 + 4 * q), _mm_load_ps(v0 + 4 * q));
            const __m128 p1 = _mm_mul_ps(_mm_loadu_ps(d1 + 4 * q), _mm_load_ps(v1 + 4 * q));
            acc[q] = _mm_add_ps(acc[q], _mm_add_ps(p0, p1));
        }
    }
    const __m128 scale = _mm_set1_ps(32768.0f);
    for (int q = 0; q < 8; ++q) _mm_storeu_ps(out + 4 * q, _mm_mul_ps(acc[q], scale));
}

#else

// Without SSE2 the plain kernels stand in (the same sums).
void AnalysisWindowSse2(const float *ring, int offset, float *y) {
    AnalysisWindowPlain(ring, offset, y);
}
void AnalysisMatrixSse2(const float *y, float *out) {
    AnalysisMatrixPlain(y, out);
}
void SynthesisWindowSse2(const float *v, int offset, float *out) {
    SynthesisWindowPlain(v, offset, out);
}

#endif

} // namespace kernel

void ResetAnalysis(AnalysisState &s, Simd simd) {
    s.ring.fill(0.0f);
    s.offset = 0;
    s.simd = simd;
}

void ResetSynthesis(SynthesisState &s) {
    s.v.fill(0.0f);
    s.offset = 64;
}

void Analyse(AnalysisState &s, const float *in, float *out) {
    kernel::AnalysisInput(s.ring.data(), s.offset, in);
    alignas(32) float y[64];
    switch (s.simd) {
    case Simd::Avx2:
        kernel::AnalysisWindowSse2(s.ring.data(), s.offset, y);
        kernel::AnalysisMatrixAvx2(y, out);
        break;
    case Simd::Sse2:
        kernel::AnalysisWindowSse2(s.ring.data(), s.offset, y);
        kernel::AnalysisMatrixSse2(y, out);
        break;
    case Simd::Plain:
        kernel::AnalysisWindowPlain(s.ring.data(), s.offset, y);
        kernel::AnalysisMatrixPlain(y, out);
        break;
    }
    s.offset = (s.offset - 32) & 511;
}

void Synthesise(SynthesisState &s, const float *in, float *out) {
    s.offset = (s.offset - 64) & 1023;
    kernel::SynthesisMatrixFast(in, s.v.data() + s.offset); // a block of 64 at a multiple of 64 never wraps
    kernel::SynthesisWindowSse2(s.v.data(), s.offset, out);
}

void SynthesiseReference(SynthesisState &s, const float *in, float *out) {
    s.offset = (s.offset - 64) & 1023;
    kernel::SynthesisMatrixPlain(in, s.v.data() + s.offset);
    kernel::SynthesisWindowPlain(s.v.data(), s.offset, out);
}

} // namespace vntr::audiocoder
