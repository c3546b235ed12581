// The shared DSP helpers: bit streams, Levinson, LPC <-> LSP, filters.
#include <vntr/dsp/bit_io.hpp>
#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/pitch_analysis.hpp>
#include <vntr/dsp/pitch_predictor.hpp>
#include <vntr/dsp/random.hpp>

#include "simd_kinds.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::dsp {
namespace {

TEST(BitIo, WriterRefusesFieldsBeyondTheBufferAndReaderReadsZerosThere) {
    uint8_t bytes[2] = {0xAA, 0xAA};
    BitWriter w(bytes, 2);
    EXPECT_EQ(bytes[0], 0); // cleared
    EXPECT_TRUE(w.Write(0x5, 3));
    EXPECT_TRUE(w.Write(0x1FFF, 13));
    EXPECT_FALSE(w.Write(1, 1));
    EXPECT_EQ(w.BitsWritten(), 16u);
    BitReader r(bytes, 2);
    EXPECT_EQ(r.Read(3), 0x5u);
    EXPECT_EQ(r.Read(13), 0x1FFFu);
    EXPECT_FALSE(r.Exhausted());
    EXPECT_EQ(r.Read(4), 0u);
    EXPECT_TRUE(r.Exhausted());
}

// LimitExcitation, which runs four samples a register, against the rule
// sample by sample: every special value in every lane and in the tail.
TEST(LimitExcitation, HoldsEverySampleAsTheRuleSaysInEveryLaneAndTail) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float specials[] = {kExcitationLimit,
                              -kExcitationLimit,
                              std::nextafter(kExcitationLimit, inf),
                              std::nextafter(kExcitationLimit, 0.0f),
                              std::nextafter(-kExcitationLimit, -inf),
                              std::nextafter(-kExcitationLimit, 0.0f),
                              inf,
                              -inf,
                              nan,
                              -nan,
                              0.0f,
                              -0.0f,
                              std::numeric_limits<float>::denorm_min(),
                              -std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::max(),
                              -std::numeric_limits<float>::max(),
                              1234.5f,
                              -1234.5f};
    const auto rule = [&](float x) {
        if (x > kExcitationLimit) return kExcitationLimit;
        if (x < -kExcitationLimit) return -kExcitationLimit;
        if (x != x) return 0.0f;
        return x;
    };
    constexpr int kCount = sizeof specials / sizeof specials[0];
    for (int length = 0; length <= 11; ++length) {
        for (int start = 0; start < kCount; ++start) {
            float e[11];
            float want[11];
            for (int n = 0; n < length; ++n) {
                e[n] = specials[(start + 5 * n) % kCount];
                want[n] = rule(e[n]);
            }
            LimitExcitation(e, length);
            EXPECT_EQ(std::memcmp(e, want, sizeof(float) * static_cast<std::size_t>(length)), 0)
                << "length " << length << " start " << start;
        }
    }
}

// The open-loop correlations of both kernels against the sums made lag by
// lag in the order of n, bit for bit: lag counts that fill whole registers
// and those that leave a tail, block lengths from 1, levels from sub-normal
// products to overflowing sums, and runs of signed zeros.
TEST(OpenLoopCorrelations, BothKernelsGiveThePlainSumsBitForBit) {
    std::mt19937 rng(17);
    std::normal_distribution<float> g(0.0f, 1.0f);
    const float levels[] = {3000.0f, 1e-22f, 1e19f, 1.0f};
    const int ranges[][2] = {{18, 142}, {18, 145}, {20, 27}, {20, 28}, {40, 40}, {18, 177}};
    for (const auto &range : ranges) {
        const int minLag = range[0], maxLag = range[1];
        for (const int length : {1, 7, 32, 60, 64, 80}) {
            for (const float level : levels) {
                std::vector<float> x(static_cast<std::size_t>(maxLag + length));
                for (std::size_t i = 0; i < x.size(); ++i) {
                    x[i] = level * g(rng);
                    if (level == 1.0f && (i / 5) % 3 == 0) x[i] = i % 2 ? -0.0f : 0.0f;
                }
                const float *cur = x.data() + maxLag;
                const int lags = maxLag - minLag + 1;
                std::vector<float> plain(static_cast<std::size_t>(lags));
                for (int j = 0; j < lags; ++j) {
                    float acc = 0.0f;
                    for (int n = 0; n < length; ++n) acc += cur[n] * cur[n - (maxLag - j)];
                    plain[static_cast<std::size_t>(j)] = acc;
                }
                for (const Simd simd : test::SimdKinds()) {
                    std::vector<float> k(static_cast<std::size_t>(lags), 1.0f);
                    OpenLoopCorrelations(cur, length, minLag, maxLag, simd, k.data());
                    EXPECT_EQ(std::memcmp(k.data(), plain.data(), sizeof(float) * static_cast<std::size_t>(lags)), 0)
                        << "lags " << minLag << ".." << maxLag << " length " << length << " level " << level << " "
                        << test::SimdName(simd);
                    EXPECT_EQ(OpenLoopPitch(cur, length, minLag, maxLag, simd),
                              OpenLoopPitch(cur, length, minLag, maxLag));
                }
            }
        }
    }
}

// LspToLpc, which expands P and Q side by side, against the two expansions
// one after the other, bit for bit, for every even order, ordered and
// crowded frequencies, and the edges of the range.
TEST(LspToLpc, GivesThePlainExpansionBitForBit) {
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> u(0.0f, static_cast<float>(std::numbers::pi));
    for (int order = 2; order <= kMaxLspOrder; order += 2) {
        for (int trial = 0; trial < 40; ++trial) {
            float lsp[kMaxLspOrder];
            for (int i = 0; i < order; ++i) lsp[i] = u(rng);
            if (trial % 2 == 0) std::sort(lsp, lsp + order);
            if (trial == 1) std::fill(lsp, lsp + order, 1.5f);
            if (trial == 3) {
                lsp[0] = 0.0f;
                lsp[order - 1] = static_cast<float>(std::numbers::pi);
            }
            double p[kMaxLspOrder + 3] = {0.0, 0.0, 1.0}, q[kMaxLspOrder + 3] = {0.0, 0.0, 1.0};
            for (int s = 0; s < order / 2; ++s) {
                const double cp = -2.0 * std::cos(static_cast<double>(lsp[2 * s]));
                for (int m = 2 * s + 2; m >= 0; --m) p[m + 2] = p[m + 2] + cp * p[m + 1] + p[m];
            }
            for (int s = 0; s < order / 2; ++s) {
                const double cq = -2.0 * std::cos(static_cast<double>(lsp[2 * s + 1]));
                for (int m = 2 * s + 2; m >= 0; --m) q[m + 2] = q[m + 2] + cq * q[m + 1] + q[m];
            }
            float want[kMaxLspOrder];
            for (int i = 1; i <= order; ++i) {
                want[i - 1] = static_cast<float>(0.5 * ((p[i + 2] + p[i + 1]) + (q[i + 2] - q[i + 1])));
            }
            float got[kMaxLspOrder];
            LspToLpc(lsp, order, got);
            EXPECT_EQ(std::memcmp(got, want, sizeof(float) * static_cast<std::size_t>(order)), 0)
                << "order " << order << " trial " << trial;
        }
    }
}

// The pitch excitation four outputs a register against the plain sums, bit
// for bit: every length up to the longest sub-frame, lags that repeat their
// period inside the vector and those that do not, taps from a codebook of
// extreme and signed-zero values, and past excitation at every level.
TEST(BuildPitchExcitation, BothKernelsGiveThePlainSumsBitForBit) {
    if (DetectSimd() != Simd::Avx2) GTEST_SKIP() << "no AVX2 on this processor";
    std::mt19937 rng(29);
    std::normal_distribution<double> g(0.0, 1.0);
    auto codebook = std::make_unique<PredictorCodebook>();
    for (int e = 0; e < kPredictorEntries; ++e) {
        for (int j = 0; j < kPredictorTaps; ++j) {
            double tap = 0.4 * g(rng);
            if (e % 9 == 1) tap = j % 2 ? -0.0 : 1e300;
            if (e % 9 == 2) tap = 1e-310 * (j + 1);
            codebook->taps[e][j] = tap;
        }
    }
    const float levels[] = {1000.0f, 1e-40f, 3e38f, 0.0f};
    std::vector<float> past(200);
    for (int trial = 0; trial < 400; ++trial) {
        const float level = levels[trial % 4];
        for (float &x : past) x = level * static_cast<float>(g(rng));
        const int length = 1 + trial % kPredictorMaxLength;
        const int lag = 18 + (trial * 7) % 129;
        const int entry = trial % kPredictorEntries;
        float plain[kPredictorMaxLength], wide[kPredictorMaxLength];
        BuildPitchExcitation(past.data() + past.size(), lag, entry, length, *codebook, plain, Simd::Plain);
        BuildPitchExcitation(past.data() + past.size(), lag, entry, length, *codebook, wide, Simd::Avx2);
        // The plain sums, written out.
        float v[kPredictorMaxLength + 4];
        BuildExtendedVector(past.data() + past.size(), lag, length, v);
        float want[kPredictorMaxLength];
        for (int n = 0; n < length; ++n) {
            double acc = 0.0;
            for (int j = 0; j < kPredictorTaps; ++j) acc += codebook->taps[entry][j] * v[n + j];
            want[n] = static_cast<float>(acc);
        }
        const auto bytes = sizeof(float) * static_cast<std::size_t>(length);
        EXPECT_EQ(std::memcmp(plain, want, bytes), 0) << "trial " << trial;
        EXPECT_EQ(std::memcmp(wide, want, bytes), 0) << "trial " << trial;
    }
}

TEST(Levinson, RecoversASecondOrderPredictor) {
    // x(n) = 1.2 x(n-1) - 0.5 x(n-2) + noise: A(z) = 1 - 1.2 z^-1 + 0.5 z^-2.
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> x(200000, 0.0f);
    for (std::size_t n = 2; n < x.size(); ++n) x[n] = 1.2f * x[n - 1] - 0.5f * x[n - 2] + noise(rng);
    float r[3];
    Autocorrelation(x.data(), static_cast<int>(x.size()), 2, r);
    float a[2];
    const float err = Levinson(r, 2, a);
    EXPECT_NEAR(a[0], -1.2f, 0.02f);
    EXPECT_NEAR(a[1], 0.5f, 0.02f);
    EXPECT_NEAR(err / static_cast<float>(x.size()), 1.0f, 0.05f);
}

TEST(Levinson, StopsBeforeAnUnstableStepAndKeepsWhatItFound) {
    const float silent[4] = {0, 0, 0, 0};
    float a[3] = {9, 9, 9};
    EXPECT_EQ(Levinson(silent, 3, a), 0.0f);
    EXPECT_EQ(a[0], 0.0f);
    EXPECT_EQ(a[2], 0.0f);
    // r(1) = r(0): a fully predictable signal; the first step would reach |k| = 1.
    const float flat[4] = {1, 1, 0.5f, 0.2f};
    Levinson(flat, 3, a);
    EXPECT_EQ(a[0], 0.0f);
    EXPECT_EQ(a[1], 0.0f);
}

// Random ordered LSP vectors in (0, pi) with some spacing.
std::vector<float> RandomLsp(int order, std::mt19937 &rng) {
    std::uniform_real_distribution<float> u(0.05f, static_cast<float>(std::numbers::pi) - 0.05f);
    std::vector<float> lsp(static_cast<std::size_t>(order));
    for (;;) {
        for (auto &w : lsp) w = u(rng);
        std::sort(lsp.begin(), lsp.end());
        bool spaced = true;
        for (int i = 1; i < order; ++i)
            spaced &= lsp[static_cast<std::size_t>(i)] - lsp[static_cast<std::size_t>(i - 1)] > 0.03f;
        if (spaced) return lsp;
    }
}

class LspOrderTest : public ::testing::TestWithParam<int> {};

TEST_P(LspOrderTest, LspToLpcAndBackReturnsTheSameFrequencies) {
    const int order = GetParam();
    std::mt19937 rng(static_cast<unsigned>(order));
    for (int trial = 0; trial < 300; ++trial) {
        const auto lsp = RandomLsp(order, rng);
        float a[kMaxLspOrder];
        LspToLpc(lsp.data(), order, a);
        float back[kMaxLspOrder];
        LpcToLsp(a, order, back);
        for (int i = 0; i < order; ++i)
            ASSERT_NEAR(back[i], lsp[static_cast<std::size_t>(i)], 2e-3f) << trial << " " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(EvenOrders, LspOrderTest, ::testing::Values(4, 10, 12));

TEST(Lsp, FlatModelHasEquallySpacedFrequencies) {
    const float a[10] = {};
    float lsp[10];
    LpcToLsp(a, 10, lsp);
    for (int k = 0; k < 10; ++k) EXPECT_NEAR(lsp[k], (k + 1) * std::numbers::pi / 11.0, 1e-4);
}

// LpcToLsp as first written: every root takes all ten Newton steps.
namespace reference {
void ChebyshevForm(const double *p, int half, double *c) {
    double t[kMaxLspOrder / 2 + 1][kMaxLspOrder / 2 + 1] = {};
    t[0][0] = 1.0;
    if (half >= 1) t[1][1] = 1.0;
    for (int k = 2; k <= half; ++k) {
        for (int m = 0; m <= k; ++m) t[k][m] = (m > 0 ? 2.0 * t[k - 1][m - 1] : 0.0) - t[k - 2][m];
    }
    for (int m = 0; m <= half; ++m) c[m] = 0.0;
    for (int i = 0; i < half; ++i) {
        for (int m = 0; m <= half; ++m) c[m] += p[i] * t[half - i][m];
    }
    c[0] += 0.5 * p[half];
}
double NewtonRoot(const double *c, int degree, double x) {
    for (int it = 0; it < 10; ++it) {
        double value = c[degree], slope = 0.0;
        for (int m = degree - 1; m >= 0; --m) {
            slope = slope * x + value;
            value = value * x + c[m];
        }
        if (slope == 0.0) break;
        const double d = -value / slope;
        x += d * (1.0 - 3.0 * d);
    }
    return x;
}
void Deflate(double *c, int degree, double root) {
    double carry = c[degree];
    for (int m = degree - 1; m >= 0; --m) {
        const double next = c[m] + carry * root;
        c[m] = carry;
        carry = next;
    }
    c[degree] = 0.0;
}
void QuadraticRoots(const double *c, double *high, double *low) {
    *high = *low = 0.0;
    if (c[2] == 0.0) return;
    const double m = -c[1] / (2.0 * c[2]);
    const double d = m * m - c[0] / c[2];
    if (d < 0.0) return;
    const double s = std::sqrt(d);
    *high = m + s;
    *low = m - s;
}
void LpcToLsp(const float *a, int order, float *lsp) {
    const int half = order / 2;
    double p[kMaxLspOrder / 2 + 1], q[kMaxLspOrder / 2 + 1];
    p[0] = q[0] = 1.0;
    for (int i = 1; i <= half; ++i) {
        p[i] = a[i - 1] + a[order - i] - p[i - 1];
        q[i] = a[i - 1] - a[order - i] + q[i - 1];
    }
    double cp[kMaxLspOrder / 2 + 1], cq[kMaxLspOrder / 2 + 1];
    ChebyshevForm(p, half, cp);
    ChebyshevForm(q, half, cq);
    double x[kMaxLspOrder];
    double start = 1.0;
    int found = 0;
    for (int degree = half; degree > 2; --degree) {
        x[found] = NewtonRoot(cp, degree, start);
        Deflate(cp, degree, x[found]);
        start = x[found++];
        x[found] = NewtonRoot(cq, degree, start);
        Deflate(cq, degree, x[found]);
        start = x[found++];
    }
    QuadraticRoots(cp, &x[found], &x[found + 2]);
    QuadraticRoots(cq, &x[found + 1], &x[found + 3]);
    for (int i = 0; i < order; ++i) lsp[i] = static_cast<float>(std::acos(std::clamp(x[i], -1.0, 1.0)));
}
} // namespace reference

// The Newton steps stop early once x repeats; every frequency must be the one
// all ten steps give, to the bit, whether the steps settle, swap between two
// values or never settle (models far from stable, huge or tiny coefficients).
TEST(Lsp, LpcToLspIsTheTenStepResultToTheBit) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> wild(-3.0f, 3.0f);
    for (int order = 4; order <= kMaxLspOrder; order += 2) {
        for (int trial = 0; trial < 400; ++trial) {
            float a[kMaxLspOrder];
            if (trial % 4 == 3) {
                for (int i = 0; i < order; ++i) a[i] = wild(rng);
            } else {
                auto lsp = RandomLsp(order, rng);
                // Every other model with two frequencies almost together.
                if (trial % 2 == 1) lsp[1] = lsp[0] + 1e-4f;
                LspToLpc(lsp.data(), order, a);
            }
            if (trial % 8 == 5) a[order - 1] = -0.0f;
            if (trial % 16 == 7) {
                for (int i = 0; i < order; ++i) a[i] *= trial % 32 == 7 ? 1e12f : 1e-12f;
            }
            float got[kMaxLspOrder], want[kMaxLspOrder];
            LpcToLsp(a, order, got);
            reference::LpcToLsp(a, order, want);
            for (int i = 0; i < order; ++i) {
                // A model that diverges ends on a NaN, whose sign bit depends on how the
                // steps were compiled, not on how many were taken.
                if (std::isnan(got[i]) && std::isnan(want[i])) continue;
                ASSERT_EQ(std::bit_cast<uint32_t>(got[i]), std::bit_cast<uint32_t>(want[i]))
                    << "order " << order << " trial " << trial << " frequency " << i << ": " << got[i] << " vs "
                    << want[i];
            }
        }
    }
}

TEST(Filters, AllPoleUndoesFirAndKeepsHistoryAcrossBlocks) {
    const float a[3] = {-0.9f, 0.4f, -0.1f};
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 100.0f);
    std::vector<float> x(3 + 100, 0.0f);
    for (std::size_t n = 3; n < x.size(); ++n) x[n] = g(rng);
    std::vector<float> e(100);
    FirFilter(x.data() + 3, a, 3, e.data(), 100);
    // Two blocks of 1/A(z) on one buffer give back the input.
    std::vector<float> y(3 + 100, 0.0f);
    AllPoleFilter(e.data(), a, 3, y.data() + 3, 40);
    AllPoleFilter(e.data() + 40, a, 3, y.data() + 43, 60);
    for (std::size_t n = 3; n < x.size(); ++n) ASSERT_NEAR(y[n], x[n], 1e-2f);
}

TEST(Filters, PoleZeroImpulseResponseMatchesFilteringAnImpulse) {
    const float b[2] = {0.5f, -0.25f};
    const float a[2] = {-0.5f, 0.1f};
    float h[8];
    PoleZeroImpulseResponse(b, a, 2, h, 8);
    float x[2 + 8] = {0, 0, 1};
    float fir[8];
    FirFilter(x + 2, b, 2, fir, 8);
    float y[2 + 8] = {};
    AllPoleFilter(fir, a, 2, y + 2, 8);
    for (int n = 0; n < 8; ++n) EXPECT_FLOAT_EQ(h[n], y[n + 2]);
}

TEST(Random, FifteenBitValuesCoverTheRangeEvenly) {
    uint32_t state = 1;
    int low = 0;
    int maxSeen = 0;
    for (int i = 0; i < 100000; ++i) {
        const int v = NextRandom15(state);
        ASSERT_LE(v, 32767);
        low += v < 16384;
        maxSeen = std::max(maxSeen, v);
    }
    EXPECT_NEAR(low, 50000, 1000);
    EXPECT_GT(maxSeen, 32700);
}

} // namespace
} // namespace vntr::dsp
