// The encoder's stages one by one: scale factors and their sharing across
// the three parts, allocation clean-up and smoothing, and the quantisers.
#include "coder.h"
#include "quantiser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace vntr::audiocoder {
namespace {

TEST(ScaleFactors, IndexIsTheSmallestValueThatCoversThePeak) {
    const auto &value = ScaleFactors().value;
    EXPECT_FLOAT_EQ(value[0], 2.0f);
    EXPECT_FLOAT_EQ(value[3], 1.0f);
    EXPECT_NEAR(value[62], 1.2e-6, 0.1e-6);
    EXPECT_FLOAT_EQ(value[63], 1e-20f);
    EXPECT_EQ(ScaleFactorIndex(0.0f), 62) << "silence";
    for (int i = 1; i <= 62; ++i) {
        EXPECT_EQ(ScaleFactorIndex(value[static_cast<std::size_t>(i)]), i) << "a peak equal to a value takes it";
        EXPECT_EQ(ScaleFactorIndex(std::nextafter(value[static_cast<std::size_t>(i)], 3.0f)), i - 1);
    }
    EXPECT_EQ(ScaleFactorIndex(2.5f), 0) << "a peak beyond the largest value takes the largest";
}

TEST(ScaleFactors, SharingNeverShrinksAPartsScaleAndMatchesItsSelection) {
    for (int a = 0; a <= 62; a += 1)
        for (int b = 0; b <= 62; b += 3)
            for (int c = 0; c <= 62; c += 5) {
                uint8_t s0 = static_cast<uint8_t>(a), s1 = static_cast<uint8_t>(b), s2 = static_cast<uint8_t>(c);
                const uint8_t sel = SelectScaleFactors(s0, s1, s2);
                ASSERT_LE(s0, a);
                ASSERT_LE(s1, b);
                ASSERT_LE(s2, c);
                switch (sel) {
                case 0:
                    ASSERT_TRUE(s0 == a && s1 == b && s2 == c);
                    break;
                case 1:
                    ASSERT_EQ(s0, s1);
                    break;
                case 2:
                    ASSERT_TRUE(s0 == s1 && s1 == s2);
                    break;
                case 3:
                    ASSERT_EQ(s1, s2);
                    break;
                default:
                    FAIL() << "selection " << int(sel);
                }
            }
}

TEST(ScaleFactors, SelectionPatterns) {
    struct Case {
        uint8_t in[3];
        uint8_t sel;
        uint8_t out[3];
    };
    const Case cases[] = {
        {{10, 20, 30}, 0, {10, 20, 30}}, // steadily falling: three scale factors
        {{20, 10, 10}, 3, {20, 10, 10}}, // a loud start of part 1: part 0 alone, parts 1+2 share
        {{10, 12, 20}, 1, {10, 10, 20}}, // parts 0 and 1 close: share part 0's
        {{10, 10, 11}, 2, {10, 10, 10}}, // all close: one for all
        {{12, 10, 10}, 2, {10, 10, 10}}, // part 0 a little quieter: part 1's serves all
        {{11, 12, 10}, 2, {10, 10, 10}}, // a dip in part 1: the larger of parts 0 and 2
        {{10, 9, 12}, 2, {9, 9, 9}},     // a loud part 1 between quieter ones serves all
    };
    for (const Case &c : cases) {
        uint8_t s0 = c.in[0], s1 = c.in[1], s2 = c.in[2];
        const uint8_t sel = SelectScaleFactors(s0, s1, s2);
        EXPECT_EQ(sel, c.sel) << int(c.in[0]) << "," << int(c.in[1]) << "," << int(c.in[2]);
        EXPECT_EQ(s0, c.out[0]);
        EXPECT_EQ(s1, c.out[1]);
        EXPECT_EQ(s2, c.out[2]);
    }
}

TEST(Allocation, SmoothingRemovesLoneBurstsAndBridgesGaps) {
    struct Case {
        uint8_t h, a0, a1, a2;
        uint8_t e0, e1, e2;
    };
    const Case cases[] = {
        {0, 0, 2, 0, 0, 0, 0}, // a single loud part 1 goes
        {0, 0, 2, 1, 0, 2, 1}, // ... unless part 2 is allocated too
        {1, 0, 2, 0, 0, 0, 0}, // a lone part 1 goes even after sound: nothing is left to bridge
        {0, 3, 0, 0, 0, 0, 0}, // an onset in part 0 alone, after silence, goes
        {1, 3, 0, 0, 3, 0, 0}, // ... but not after sound
        {1, 0, 2, 2, 1, 2, 2}, // sound carried from the last frame bridges part 0
        {1, 2, 0, 2, 2, 1, 2}, // a gap in the middle is bridged
        {0, 2, 0, 2, 0, 0, 2}, // ... but an onset in part 0 after silence goes first
        {2, 0, 0, 3, 0, 0, 3},
    };
    for (const Case &c : cases) {
        uint8_t h = c.h, a0 = c.a0, a1 = c.a1, a2 = c.a2;
        SmoothAllocation(h, a0, a1, a2);
        EXPECT_EQ(a0, c.e0) << int(c.h) << int(c.a0) << int(c.a1) << int(c.a2);
        EXPECT_EQ(a1, c.e1) << int(c.h) << int(c.a0) << int(c.a1) << int(c.a2);
        EXPECT_EQ(a2, c.e2) << int(c.h) << int(c.a0) << int(c.a1) << int(c.a2);
        EXPECT_EQ(h, c.e2) << "the history is part 2's allocation";
    }
}

TEST(Allocation, FillingHolesCountsHolesAlreadyFilled) {
    uint8_t a[kSubbands] = {1, 1, 0, 0, 1, 0};
    a[24] = 0;
    a[22] = a[23] = a[25] = a[26] = 1;
    CleanUpAllocation(CleanUp::FillHoles, a);
    EXPECT_EQ(a[2], 1); // neighbours 0, 1, 4
    EXPECT_EQ(a[3], 1); // neighbours 1, 4 and the just filled 2
    EXPECT_EQ(a[5], 0); // neighbours 3 (filled) and 4 only
    EXPECT_EQ(a[24], 0) << "subbands above 23 are never filled";
    uint8_t b[kSubbands] = {0, 1, 0, 1, 0, 0, 0};
    CleanUpAllocation(CleanUp::FillHoles, b);
    EXPECT_EQ(b[2], 0) << "two neighbours are not enough";
}

TEST(Allocation, PruningDropsLoneHighBandAllocationsWhenTheMiddleIsQuiet) {
    uint8_t a[kSubbands] = {};
    a[10] = 1;
    a[15] = 1; // the middle adds up to 2
    a[16] = 1;
    a[20] = 2;
    a[31] = 1;
    uint8_t b[kSubbands];
    std::copy(std::begin(a), std::end(a), b);
    CleanUpAllocation(CleanUp::PruneHighBand, a);
    EXPECT_EQ(a[16], 0);
    EXPECT_EQ(a[31], 0);
    EXPECT_EQ(a[20], 2) << "only allocations of 1 go";
    EXPECT_EQ(a[10], 1);
    b[12] = 1; // the middle adds up to 3
    CleanUpAllocation(CleanUp::PruneHighBand, b);
    EXPECT_EQ(b[16], 1);
    EXPECT_EQ(b[31], 1);
}

TEST(Quantisers, EdgesOfTheRangeAndRoundTripError) {
    const Quantiser all[] = {kQ3, kQ5, kQ7, kQ9, kQ15, kQ31, kQ63};
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    for (const Quantiser &q : all) {
        const float scale = 0.5f;
        EXPECT_EQ(QuantiseSample(scale, scale, q), q.levels - 1) << "magnitude equal to the scale: top code";
        EXPECT_EQ(QuantiseSample(-scale, scale, q), 0) << q.levels;
        EXPECT_EQ(QuantiseSample(0.0f, scale, q), (q.levels - 1) / 2) << q.levels;
        EXPECT_EQ(QuantiseSample(3.0f, scale, q), q.levels - 1) << "beyond the scale clips";
        EXPECT_NEAR(DequantiseSample((q.levels - 1) / 2, q), 0.0f, 1e-6f);
        // Every value comes back within half a step (the steps are 2 / levels wide).
        const float halfStep = 1.0f / static_cast<float>(q.levels) + 1e-5f;
        for (int i = 0; i < 2000; ++i) {
            const float x = uniform(rng);
            const float back = DequantiseSample(QuantiseSample(x * scale, scale, q), q);
            ASSERT_LE(std::fabs(back - x), halfStep) << q.levels << " levels, x = " << x;
        }
    }
}

} // namespace
} // namespace vntr::audiocoder

namespace vntr::audiocoder {
namespace {

// What the decoder did before, with the library's round: the reference for RoundToPcm.
int16_t RoundWithLibrary(float x, uint32_t &clipped) {
    float v = std::round(x);
    if (v > 32767.0f || v < -32768.0f || v != v) {
        ++clipped;
        v = v != v ? 0.0f : (v > 0.0f ? 32767.0f : -32768.0f);
    }
    return static_cast<int16_t>(v);
}

TEST(PcmRounding, RoundsHalfAwayFromZeroAndSaturatesLikeTheLibraryRound) {
    std::vector<float> xs = {0.0f,
                             -0.0f,
                             0.5f,
                             -0.5f,
                             1.5f,
                             -1.5f,
                             2.5f,
                             -2.5f,
                             32766.5f,
                             -32767.5f,
                             32767.0f,
                             -32768.0f,
                             32767.5f,
                             -32768.5f,
                             40000.0f,
                             -40000.0f,
                             1e30f,
                             -1e30f,
                             std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(),
                             std::numeric_limits<float>::quiet_NaN()};
    // Every half step and its float neighbours, over the whole range.
    for (int n = -32770; n <= 32770; ++n) {
        const float half = static_cast<float>(n) + 0.5f;
        xs.insert(xs.end(),
                  {half, std::nextafter(half, 0.0f), std::nextafter(half, 1e9f), std::nextafter(half, -1e9f)});
    }
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> any(-33000.0f, 33000.0f);
    for (int i = 0; i < 100000; ++i) xs.push_back(any(rng));
    uint32_t clippedFast = 0, clippedLibrary = 0;
    for (float x : xs) ASSERT_EQ(RoundToPcm(x, clippedFast), RoundWithLibrary(x, clippedLibrary)) << "x = " << x;
    EXPECT_EQ(clippedFast, clippedLibrary);
    EXPECT_GT(clippedFast, 10u);
}

} // namespace
} // namespace vntr::audiocoder
