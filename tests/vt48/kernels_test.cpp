// The encoder's blocked and vector kernels against the plain loops they stand
// for: every output the same to the last bit, for every length the searches
// use and for the lengths around the block sizes, on every kernel kind this
// processor runs.
#include "kernels.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/vector.hpp>

#include "simd_kinds.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace vntr::vt48 {
namespace {

std::vector<float> Noise(std::size_t count, uint32_t seed, float scale = 1000.0f) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> normal(0.0f, scale);
    std::vector<float> x(count);
    for (float &v : x) v = normal(rng);
    return x;
}

std::vector<Simd> KindsThisProcessorRuns() {
    return test::SimdKinds();
}

TEST(Kernels, CrossCorrelationsAreDotProductsBitForBit) {
    // Ordinary levels, sub-normal products, sums that overflow, and silence
    // with zeros of both signs.
    for (float scale : {1000.0f, 1e-22f, 1e19f, 0.0f}) {
        auto x = Noise(400, 1, scale > 0.0f ? scale : 1.0f);
        auto y = Noise(400, 2, scale > 0.0f ? scale : 1.0f);
        if (scale == 0.0f) {
            for (float &v : x) v *= 0.0f; // +0 or -0 by the sign of the noise
            for (float &v : y) v *= 0.0f;
        }
        for (Simd simd : KindsThisProcessorRuns()) {
            for (int length = 0; length <= 70; ++length) {
                for (int count : {1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 36, 54, 98}) {
                    std::vector<float> out(static_cast<std::size_t>(count), -1.0f);
                    CrossCorrelations(x.data(), y.data(), length, count, out.data(), simd);
                    for (int j = 0; j < count; ++j) {
                        // A lag that leaves nothing of the signal correlates to 0.
                        const float expected = length - j > 0 ? dsp::Dot(x.data(), y.data() + j, length - j) : 0.0f;
                        ASSERT_EQ(std::bit_cast<uint32_t>(out[static_cast<std::size_t>(j)]),
                                  std::bit_cast<uint32_t>(expected))
                            << test::SimdName(simd) << " scale " << scale << " length " << length << " count " << count
                            << " lag " << j;
                    }
                }
            }
        }
    }
}

TEST(Kernels, CrossCorrelationsWriteOnlyTheLagsAskedFor) {
    const auto x = Noise(64, 3);
    for (Simd simd : KindsThisProcessorRuns()) {
        for (int count : {1, 5, 9, 13}) {
            std::vector<float> out(32, 7.0f);
            CrossCorrelations(x.data(), x.data(), 40, count, out.data(), simd);
            for (std::size_t j = static_cast<std::size_t>(count); j < out.size(); ++j) EXPECT_EQ(out[j], 7.0f) << j;
        }
    }
}

TEST(Kernels, PairDotsAreDotProductsBitForBit) {
    const auto a = Noise(200, 4);
    const auto b = Noise(200, 5, 0.01f);
    for (int length : {0, 1, 7, 8, 9, 15, 16, 17, 53, 54, 81, 100}) {
        const float *x[4] = {a.data(), a.data() + 10, b.data(), a.data() + 3};
        const float *y[4] = {b.data(), a.data() + 10, a.data() + 50, b.data() + 7};
        float blocked[4];
        PairDots<4>(x, y, length, blocked);
        for (int k = 0; k < 4; ++k) {
            const float expected = dsp::Dot(x[k], y[k], length);
            EXPECT_EQ(std::bit_cast<uint32_t>(blocked[k]), std::bit_cast<uint32_t>(expected)) << length << " " << k;
        }
        for (Simd simd : KindsThisProcessorRuns()) {
            for (int count = 1; count <= 4; ++count) {
                float out[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
                PairDots(x, y, count, length, out, simd);
                for (int k = 0; k < count; ++k) {
                    const float expected = dsp::Dot(x[k], y[k], length);
                    EXPECT_EQ(std::bit_cast<uint32_t>(out[k]), std::bit_cast<uint32_t>(expected))
                        << test::SimdName(simd) << " " << length << " " << count << " " << k;
                }
            }
        }
    }
}

TEST(Kernels, FirFromRestSumsEachOutputFromItsFirstTap) {
    const auto x = Noise(40 + 160, 9);
    const auto b = Noise(40, 10, 0.1f);
    for (int length : {1, 7, 8, 9, 16, 17, 160}) {
        std::vector<float> y(160, -1.0f);
        FirFromRest<40>(x.data() + 39, b.data(), y.data(), length);
        for (int n = 0; n < length; ++n) {
            float expected = 0.0f;
            for (int k = 0; k < 40; ++k)
                expected += b[static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(39 + n - k)];
            ASSERT_EQ(std::bit_cast<uint32_t>(y[static_cast<std::size_t>(n)]), std::bit_cast<uint32_t>(expected)) << n;
        }
        for (int n = length; n < 160; ++n) EXPECT_EQ(y[static_cast<std::size_t>(n)], -1.0f) << n;
    }
}

TEST(Kernels, ManyPairDotsAreDotProductsBitForBit) {
    const auto a = Noise(300, 11);
    const auto b = Noise(300, 12, 1e-3f);
    for (Simd simd : KindsThisProcessorRuns()) {
        for (int count = 0; count <= 11; ++count) {
            for (int length : {0, 1, 7, 8, 9, 15, 16, 17, 53, 54}) {
                std::vector<const float *> x, y;
                for (int j = 0; j < count; ++j) {
                    // Some pairs are a vector with itself, some reach into the other signal.
                    x.push_back(a.data() + 13 * j);
                    y.push_back(j % 3 == 0 ? a.data() + 13 * j : b.data() + 7 * j);
                }
                std::vector<float> out(static_cast<std::size_t>(count) + 1, -1.0f);
                PairDots(x.data(), y.data(), count, length, out.data(), simd);
                for (int j = 0; j < count; ++j) {
                    const float expected =
                        dsp::Dot(x[static_cast<std::size_t>(j)], y[static_cast<std::size_t>(j)], length);
                    ASSERT_EQ(std::bit_cast<uint32_t>(out[static_cast<std::size_t>(j)]),
                              std::bit_cast<uint32_t>(expected))
                        << "kind " << static_cast<int>(simd) << " count " << count << " length " << length << " pair "
                        << j;
                }
                EXPECT_EQ(out[static_cast<std::size_t>(count)], -1.0f) << "wrote past the pairs asked for";
            }
        }
    }
}

// y[n] = sum_{i<=n} x[i] h[n-i], each output's terms added in the order of i.
std::vector<float> PlainResponseFilter(const std::vector<float> &h, const std::vector<float> &x, int length) {
    std::vector<float> y(static_cast<std::size_t>(length), 0.0f);
    for (int i = 0; i < length; ++i) {
        for (int n = i; n < length; ++n)
            y[static_cast<std::size_t>(n)] += x[static_cast<std::size_t>(i)] * h[static_cast<std::size_t>(n - i)];
    }
    return y;
}

TEST(Kernels, FilterPaddedIsTheResponseFilterBitForBit) {
    for (float scale : {1e-20f, 1.0f, 3e4f, 1e15f}) {
        const auto h = Noise(64, 13, scale);
        auto x = Noise(64, 14, 1.0f / scale);
        // Zeros of both signs (a sparse input) must leave the sums as the plain loop leaves them.
        for (std::size_t n = 0; n < x.size(); n += 3) x[n] = n % 2 == 0 ? 0.0f : -0.0f;
        for (Simd simd : KindsThisProcessorRuns()) {
            // Up to the longest subframe, and past the widest kernel's registers.
            for (int length = 1; length <= 64; ++length) {
                std::vector<float> padded(8 + 64 + 8, 0.0f);
                std::copy(h.begin(), h.begin() + length, padded.begin() + 8);
                std::vector<float> y(64, -1.0f);
                FilterPadded(padded.data() + 8, x.data(), length, y.data(), simd);
                const auto expected = PlainResponseFilter(h, x, length);
                for (int n = 0; n < length; ++n) {
                    ASSERT_EQ(std::bit_cast<uint32_t>(y[static_cast<std::size_t>(n)]),
                              std::bit_cast<uint32_t>(expected[static_cast<std::size_t>(n)]))
                        << "kind " << static_cast<int>(simd) << " scale " << scale << " length " << length << " n "
                        << n;
                }
                for (int n = length; n < 64; ++n)
                    ASSERT_EQ(y[static_cast<std::size_t>(n)], -1.0f) << length << " " << n;
            }
        }
    }
}

TEST(Kernels, FirFromRestIsTheSameOnEveryKind) {
    const auto x = Noise(40 + 160, 15);
    const auto b = Noise(40, 16, 0.1f);
    for (Simd simd : KindsThisProcessorRuns()) {
        for (int length : {1, 7, 8, 9, 16, 17, 159, 160}) {
            std::vector<float> plain(160, -1.0f), chosen(160, -1.0f);
            FirFromRest<40>(x.data() + 39, b.data(), plain.data(), length);
            FirFromRest<40>(x.data() + 39, b.data(), chosen.data(), length, simd);
            for (std::size_t n = 0; n < plain.size(); ++n) {
                ASSERT_EQ(std::bit_cast<uint32_t>(chosen[n]), std::bit_cast<uint32_t>(plain[n]))
                    << "kind " << static_cast<int>(simd) << " length " << length << " n " << n;
            }
        }
    }
}

TEST(Kernels, LastConvolutionIsTheConvolutionsLastOutputsBitForBit) {
    for (float scale : {1e-18f, 1.0f, 1e12f}) {
        const auto h = Noise(54, 17, scale);
        auto x = Noise(54, 18);
        x[0] = -0.0f; // a negative zero where the lanes' sums start
        x[1] = 0.0f;
        for (int length = 10; length <= 54; ++length) {
            float y[10];
            LastConvolution<10, 54>(h.data(), x.data(), length, y);
            for (int i = 0; i < 10; ++i) {
                const int m = length - 10 + i;
                float expected = 0.0f;
                for (int k = 0; k <= m; ++k)
                    expected += h[static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(m - k)];
                ASSERT_EQ(std::bit_cast<uint32_t>(y[i]), std::bit_cast<uint32_t>(expected))
                    << "scale " << scale << " length " << length << " output " << i;
            }
        }
        // A count that is not a whole number of lanes.
        float three[3];
        LastConvolution<3, 54>(h.data(), x.data(), 5, three);
        for (int i = 0; i < 3; ++i) {
            float expected = 0.0f;
            for (int k = 0; k <= 2 + i; ++k)
                expected += h[static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(2 + i - k)];
            ASSERT_EQ(std::bit_cast<uint32_t>(three[i]), std::bit_cast<uint32_t>(expected)) << i;
        }
    }
}

// The scan it stands for: in order of p, each strictly better score kept.
int ScanForBestScore(const float *c, const float *e, int count, float floor, float *score) {
    int best = -1;
    for (int p = 0; p < count; ++p) {
        const float s = e[p] > 0.0f ? c[p] * c[p] / e[p] : 0.0f;
        if (s > floor) {
            floor = s;
            best = p;
        }
    }
    if (best >= 0) *score = floor;
    return best;
}

TEST(Kernels, FirstBestScoreIsWhereTheScanEnds) {
    constexpr int kMost = 54;
    std::mt19937 rng(21);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float specials[] = {0.0f, -0.0f, -1.0f, 1e-30f, 1e30f, inf, -inf, nan};
    for (int trial = 0; trial < 3000; ++trial) {
        const int count = trial % (kMost + 1);
        const float scale = trial % 5 == 0 ? 1e-20f : (trial % 5 == 1 ? 1e20f : 1000.0f);
        const auto noiseC = Noise(kMost, static_cast<uint32_t>(2 * trial), scale);
        const auto noiseE = Noise(kMost, static_cast<uint32_t>(2 * trial + 1), scale);
        float c[kMost], e[kMost];
        for (int p = 0; p < kMost; ++p) {
            c[p] = noiseC[static_cast<std::size_t>(p)];
            e[p] = std::fabs(noiseE[static_cast<std::size_t>(p)]);
        }
        // Ties: copies of one position's pair elsewhere (the first must win),
        // and the sign of c, which the score does not see.
        if (trial % 3 == 0 && count > 1) {
            const int from = static_cast<int>(rng() % static_cast<unsigned>(count));
            for (int k = 0; k < 3; ++k) {
                const int to = static_cast<int>(rng() % static_cast<unsigned>(count));
                c[to] = k == 1 ? -c[from] : c[from];
                e[to] = e[from];
            }
        }
        // Energies of zero (both signs) and below, NaNs and infinities.
        if (trial % 4 != 3) {
            for (int k = 0; k < 6 && count > 0; ++k) {
                const int at = static_cast<int>(rng() % static_cast<unsigned>(count));
                const float v = specials[rng() % 8];
                if (rng() % 2 == 0) {
                    c[at] = v;
                } else {
                    e[at] = v;
                }
            }
        }
        // Every score NaN or zero now and then: nothing may beat the floor.
        if (trial % 97 == 5) {
            for (int p = 0; p < kMost; ++p) c[p] = p % 2 == 0 ? nan : 0.0f;
        }
        const float floors[] = {-6.9f, 0.0f, 1.0f, inf};
        const float floor = floors[trial % 4];
        float want = -7.0f, got = -7.0f;
        const int expected = ScanForBestScore(c, e, count, floor, &want);
        const int position = FirstBestScore<kMost>(c, e, count, floor, &got);
        ASSERT_EQ(position, expected) << "trial " << trial << " count " << count;
        ASSERT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(want)) << "trial " << trial;
    }
}

} // namespace
} // namespace vntr::vt48
