// The fast filter-bank kernels against the plain ones: the windowings and the
// analysis matrixing must give the plain sums to the bit (the encoder's
// choices hang on them); the synthesis matrixing by the fast transform must
// stay within float rounding of the 64 x 32 product, and a decoded sample
// within one step of the plain bank's.
#include "coder.h"
#include "filterbank.h"
#include "quantiser.h"
#include "signals.hpp"
#include "test_paths.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::audiocoder {
namespace {

// Values over a wide range of magnitudes and both signs, with exact zeros,
// so that a sum taken in another order would round differently somewhere.
std::vector<float> WideValues(std::mt19937 &rng, std::size_t n) {
    std::uniform_real_distribution<float> mantissa(-1.0f, 1.0f);
    std::uniform_int_distribution<int> exponent(-20, 2);
    std::vector<float> v(n);
    for (float &x : v) x = rng() % 17 == 0 ? 0.0f : std::ldexp(mantissa(rng), exponent(rng));
    return v;
}

bool SameBits(const float *a, const float *b, std::size_t n) {
    return std::memcmp(a, b, n * sizeof(float)) == 0;
}

TEST(FilterBankKernels, AnalysisWindowGivesThePlainSumsAtEveryOffset) {
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        const auto ring = WideValues(rng, 1024);
        for (int offset = 0; offset < 512; offset += 32) {
            alignas(32) float plain[64], fast[64];
            kernel::AnalysisWindowPlain(ring.data(), offset, plain);
            kernel::AnalysisWindowSse2(ring.data(), offset, fast);
            ASSERT_TRUE(SameBits(plain, fast, 64)) << "offset " << offset;
        }
    }
}

TEST(FilterBankKernels, AnalysisMatrixingGivesThePlainSums) {
    std::mt19937 rng(12);
    const bool avx2 = dsp::DetectSimd() == Simd::Avx2;
    for (int round = 0; round < 2000; ++round) {
        const auto y = WideValues(rng, 64);
        float plain[32], sse2[32], wide[32];
        kernel::AnalysisMatrixPlain(y.data(), plain);
        kernel::AnalysisMatrixSse2(y.data(), sse2);
        ASSERT_TRUE(SameBits(plain, sse2, 32)) << "round " << round;
        if (avx2) {
            kernel::AnalysisMatrixAvx2(y.data(), wide);
            ASSERT_TRUE(SameBits(plain, wide, 32)) << "round " << round;
        }
    }
    if (!avx2) GTEST_SKIP() << "no AVX2 here: the SSE2 kernel was checked, the AVX2 one not";
}

TEST(FilterBankKernels, AnalysisOfEveryKindGivesTheSameSubbandSamples) {
    // A whole run through the ring, including its wrap, with each kind of handle.
    std::mt19937 rng(13);
    std::uniform_int_distribution<int> pcm(-32768, 32767);
    AnalysisState plain{}, sse2{}, native{};
    ResetAnalysis(plain, Simd::Plain);
    ResetAnalysis(sse2, Simd::Sse2);
    ResetAnalysis(native); // what an encoder opened here runs
    for (int block = 0; block < 100; ++block) {
        float in[32];
        // Loud noise, then quiet, then silence: every block gets a new level.
        const float level = block < 40 ? 1.0f : block < 80 ? 1e-3f : 0.0f;
        for (float &x : in) x = level * static_cast<float>(pcm(rng));
        float a[32], b[32], c[32];
        Analyse(plain, in, a);
        Analyse(sse2, in, b);
        Analyse(native, in, c);
        ASSERT_TRUE(SameBits(a, b, 32)) << "block " << block;
        ASSERT_TRUE(SameBits(a, c, 32)) << "block " << block;
    }
    EXPECT_EQ(plain.offset, native.offset);
}

// The transforms' definitions in double precision.
double Dct2At(const float *in, int n) {
    double s = 0;
    for (int k = 0; k < 32; ++k) s += in[k] * std::cos(std::numbers::pi * n * (2 * k + 1) / 64.0);
    return s;
}
double Dct3At(const float *in, int k) {
    double s = 0;
    for (int n = 0; n < 32; ++n) s += in[n] * std::cos(std::numbers::pi * n * (2 * k + 1) / 64.0);
    return s;
}

TEST(FilterBankKernels, FastCosineTransformsMatchTheirDefinitions) {
    // Each unit impulse gives one row or column of cosines...
    for (int p = 0; p < 32; ++p) {
        float in[32] = {}, out2[32], out3[32];
        in[p] = 1.0f;
        kernel::Dct2(in, out2);
        kernel::Dct3(in, out3);
        for (int q = 0; q < 32; ++q) {
            ASSERT_NEAR(out2[q], Dct2At(in, q), 2e-6) << "impulse at " << p << ", output " << q;
            ASSERT_NEAR(out3[q], Dct3At(in, q), 2e-6) << "impulse at " << p << ", output " << q;
        }
    }
    // ...and any input stays within float rounding of the sums.
    std::mt19937 rng(14);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int round = 0; round < 500; ++round) {
        float in[32], out2[32], out3[32];
        for (float &x : in) x = u(rng);
        kernel::Dct2(in, out2);
        kernel::Dct3(in, out3);
        for (int q = 0; q < 32; ++q) {
            ASSERT_NEAR(out2[q], Dct2At(in, q), 2e-5);
            ASSERT_NEAR(out3[q], Dct3At(in, q), 2e-5);
        }
    }
}

TEST(FilterBankKernels, SynthesisMatrixingByTheTransformMatchesTheProduct) {
    std::mt19937 rng(15);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int round = 0; round < 500; ++round) {
        float in[32], plain[64], fast[64];
        for (float &x : in) x = u(rng);
        kernel::SynthesisMatrixPlain(in, plain);
        kernel::SynthesisMatrixFast(in, fast);
        for (int i = 0; i < 64; ++i) ASSERT_NEAR(fast[i], plain[i], 2e-5) << "row " << i;
        EXPECT_EQ(fast[16], 0.0f) << "cos((16 + 16)(2k + 1) pi / 64) is 0 for every k";
    }
}

TEST(FilterBankKernels, SynthesisWindowGivesThePlainSumsAtEveryOffset) {
    std::mt19937 rng(16);
    for (int round = 0; round < 20; ++round) {
        const auto v = WideValues(rng, 1024);
        for (int offset = 0; offset < 1024; offset += 64) {
            float plain[32], fast[32];
            kernel::SynthesisWindowPlain(v.data(), offset, plain);
            kernel::SynthesisWindowSse2(v.data(), offset, fast);
            ASSERT_TRUE(SameBits(plain, fast, 32)) << "offset " << offset;
        }
    }
}

// Rounds as the decoder does (half away from zero, clipped).
int Pcm(float x) {
    return static_cast<int>(std::clamp(std::round(x), -32768.0f, 32767.0f));
}

TEST(FilterBankKernels, DecodedSpeechMovesByOneStepAtMost) {
    // Real speech through the encoder, then the subband samples the decoder
    // would see through both synthesis banks.
    auto speech = test::ReadRaw(test::SpeechRecording("kristoff"));
    if (speech.empty()) GTEST_SKIP() << "codec2-examples not installed";
    EncoderState encoder{};
    InitEncoder(encoder);
    SynthesisState fast{}, plain{};
    ResetSynthesis(fast);
    ResetSynthesis(plain);
    int largest = 0, moved = 0, loud = 0;
    for (std::size_t b = 0; b + 32 <= speech.size(); b += 32) {
        float in[32], sub[32], a[32], c[32];
        for (int t = 0; t < 32; ++t) in[t] = speech[b + static_cast<std::size_t>(t)];
        Analyse(encoder.analysis, in, sub);
        Synthesise(fast, sub, a);
        SynthesiseReference(plain, sub, c);
        for (int j = 0; j < 32; ++j) {
            const int d = std::abs(Pcm(a[j]) - Pcm(c[j]));
            largest = std::max(largest, d);
            moved += d != 0;
            loud += std::abs(c[j]) > 1000.0f;
        }
    }
    EXPECT_LE(largest, 1);
    EXPECT_LT(moved, static_cast<int>(speech.size() / 100)) << "a step now and then, not everywhere";
    EXPECT_GT(loud, 1000) << "the recording must reach the bank";
}

} // namespace
} // namespace vntr::audiocoder
