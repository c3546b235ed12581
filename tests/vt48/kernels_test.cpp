// The encoder's blocked and vector kernels against the plain loops they stand
// for: every output the same to the last bit, for every length the searches
// use and for the lengths around the block sizes, on every kernel kind this
// processor runs.
#include "kernels.hpp"

#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/vector.hpp>

#include <gtest/gtest.h>

#include <bit>
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
    std::vector<Simd> kinds{Simd::Sse2};
    if (DetectSimd() == Simd::Avx2) kinds.push_back(Simd::Avx2);
    return kinds;
}

TEST(Kernels, CrossCorrelationsAreDotProductsBitForBit) {
    const auto x = Noise(400, 1);
    const auto y = Noise(400, 2);
    for (Simd simd : KindsThisProcessorRuns()) {
        for (int length = 0; length <= 70; ++length) {
            for (int count : {1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 36, 54, 98}) {
                std::vector<float> out(static_cast<std::size_t>(count), -1.0f);
                CrossCorrelations(x.data(), y.data(), length, count, out.data(), simd);
                for (int j = 0; j < count; ++j) {
                    // A lag that leaves nothing of the signal correlates to 0.
                    const float expected = length - j > 0 ? dsp::Dot(x.data(), y.data() + j, length - j) : 0.0f;
                    ASSERT_EQ(std::bit_cast<uint32_t>(out[static_cast<std::size_t>(j)]), std::bit_cast<uint32_t>(expected))
                        << "kind " << static_cast<int>(simd) << " length " << length << " count " << count << " lag " << j;
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
        float plain[4];
        PairDots<4>(x, y, length, plain);
        float wide[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
        if (DetectSimd() == Simd::Avx2) avx2::PairDots4(x, y, length, wide);
        for (int k = 0; k < 4; ++k) {
            const float expected = dsp::Dot(x[k], y[k], length);
            EXPECT_EQ(std::bit_cast<uint32_t>(plain[k]), std::bit_cast<uint32_t>(expected)) << length << " " << k;
            if (DetectSimd() == Simd::Avx2) {
                EXPECT_EQ(std::bit_cast<uint32_t>(wide[k]), std::bit_cast<uint32_t>(expected)) << length << " " << k;
            }
        }
    }
}

TEST(Kernels, AllPolePairIsTwoAllPoleFiltersBitForBit) {
    // A stable tenth-order predictor (poles of radius 0.95 and below).
    const float a[10] = {-1.9f, 1.6f, -0.9f, 0.45f, -0.3f, 0.2f, -0.12f, 0.06f, -0.03f, 0.01f};
    for (int length : {1, 2, 10, 11, 53, 54}) {
        const auto x0 = Noise(64, 6);
        const auto x1 = Noise(64, 7, 1e-3f);
        const auto history = Noise(20, 8);
        std::vector<float> y0(10 + 64), y1(10 + 64), r0(10 + 64), r1(10 + 64);
        for (int i = 0; i < 10; ++i) {
            y0[static_cast<std::size_t>(i)] = r0[static_cast<std::size_t>(i)] = history[static_cast<std::size_t>(i)];
            y1[static_cast<std::size_t>(i)] = r1[static_cast<std::size_t>(i)] = history[static_cast<std::size_t>(10 + i)];
        }
        AllPolePair<10>(x0.data(), y0.data() + 10, x1.data(), y1.data() + 10, a, length);
        dsp::AllPoleFilter(x0.data(), a, 10, r0.data() + 10, length);
        dsp::AllPoleFilter(x1.data(), a, 10, r1.data() + 10, length);
        for (std::size_t n = 0; n < y0.size(); ++n) {
            ASSERT_EQ(std::bit_cast<uint32_t>(y0[n]), std::bit_cast<uint32_t>(r0[n])) << length << " " << n;
            ASSERT_EQ(std::bit_cast<uint32_t>(y1[n]), std::bit_cast<uint32_t>(r1[n])) << length << " " << n;
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
            for (int k = 0; k < 40; ++k) expected += b[static_cast<std::size_t>(k)] * x[static_cast<std::size_t>(39 + n - k)];
            ASSERT_EQ(std::bit_cast<uint32_t>(y[static_cast<std::size_t>(n)]), std::bit_cast<uint32_t>(expected)) << n;
        }
        for (int n = length; n < 160; ++n) EXPECT_EQ(y[static_cast<std::size_t>(n)], -1.0f) << n;
    }
}

} // namespace
} // namespace vntr::vt48
