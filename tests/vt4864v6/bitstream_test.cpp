// Frame packing of both rates, the rate code, and the rebuilding of the lags.
#include "bitstream.hpp"

#include <gtest/gtest.h>

#include <random>

namespace vntr::vt4864v6 {
namespace {

VocoderParams RandomParams(const RateMode &mode, std::mt19937 &rng) {
    VocoderParams p{};
    for (int i = 0; i < mode.paramCount; ++i) {
        const int w = mode.widths[static_cast<std::size_t>(i)];
        p[static_cast<std::size_t>(i)] = w ? static_cast<uint16_t>(rng() & ((1u << w) - 1u)) : 0;
    }
    return p;
}

bool StreamBit(const uint8_t *bytes, int bit) {
    return (bytes[bit / 8] >> (bit % 8)) & 1;
}

class PackingTest : public ::testing::TestWithParam<const RateMode *> {};

TEST_P(PackingTest, RandomParameterSetsSurviveARoundTrip) {
    const RateMode &mode = *GetParam();
    std::mt19937 rng(7);
    for (int trial = 0; trial < 2000; ++trial) {
        const VocoderParams p = RandomParams(mode, rng);
        uint8_t bytes[kMaxCodedBytes];
        PackFrame(p, mode, bytes);
        ASSERT_EQ(&FrameRate(bytes), &mode);
        ASSERT_EQ(UnpackFrame(bytes, mode), p) << "trial " << trial;
    }
}

TEST_P(PackingTest, EachWordSitsAtItsStreamPositionLeastSignificantBitFirst) {
    const RateMode &mode = *GetParam();
    int offset = 2;
    for (int i = 0; i < mode.paramCount; ++i) {
        const int w = mode.widths[static_cast<std::size_t>(i)];
        if (w == 0) continue;
        VocoderParams p{};
        p[static_cast<std::size_t>(i)] = 1; // lowest bit only
        uint8_t bytes[kMaxCodedBytes];
        PackFrame(p, mode, bytes);
        for (int bit = 2; bit < mode.codedBytes * 8; ++bit) {
            ASSERT_EQ(StreamBit(bytes, bit), bit == offset) << "word " << i << " bit " << bit;
        }
        offset += w;
    }
    EXPECT_EQ(offset, mode.usedBits);
}

TEST_P(PackingTest, OversizedWordsAreMaskedToTheirWidth) {
    const RateMode &mode = *GetParam();
    VocoderParams p{};
    p.fill(0xFFFF);
    uint8_t bytes[kMaxCodedBytes];
    PackFrame(p, mode, bytes);
    const VocoderParams back = UnpackFrame(bytes, mode);
    for (int i = 0; i < kParamCount; ++i) {
        const int w = i < mode.paramCount ? mode.widths[static_cast<std::size_t>(i)] : 0;
        EXPECT_EQ(back[static_cast<std::size_t>(i)], (1u << w) - 1u) << "word " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(BothRates, PackingTest, ::testing::Values(&kRate4800, &kRate6400),
                         [](const auto &param) { return param.param->is4800 ? "Rate4800" : "Rate6400"; });

TEST(Packing, A48FrameUsesEveryBitOfItsEighteenBytes) {
    VocoderParams p{};
    p.fill(0xFFFF);
    uint8_t bytes[kMaxCodedBytes] = {};
    PackFrame(p, kRate4800, bytes);
    EXPECT_EQ(bytes[0], 0xFD); // rate code 1, then ones
    for (int i = 1; i < 18; ++i) EXPECT_EQ(bytes[i], 0xFF) << "byte " << i;
}

TEST(Packing, A64FrameEndsWithTwoSpareZeroBits) {
    VocoderParams p{};
    p.fill(0xFFFF);
    uint8_t bytes[kMaxCodedBytes];
    PackFrame(p, kRate6400, bytes);
    EXPECT_EQ(bytes[0], 0xFC); // rate code 0
    for (int i = 1; i < 23; ++i) EXPECT_EQ(bytes[i], 0xFF) << "byte " << i;
    EXPECT_EQ(bytes[23], 0x3F);
}

TEST(Packing, RateCodesTwoAndThreeReadAsTheLowRate) {
    for (uint8_t first : {0x00, 0x01, 0x02, 0x03, 0xFC, 0xFE, 0xFF}) {
        const RateMode &mode = FrameRate(&first);
        EXPECT_EQ(mode.is4800, (first & 3) != 0) << int(first);
    }
}

TEST(Lags, SixFourRateLagsAreAbsolute) {
    VocoderParams p{};
    p[4] = 0;
    p[5] = 127;
    p[6] = 1;
    p[7] = 64;
    int lags[kMaxSubframes];
    RebuildLags(p, kRate6400, lags);
    EXPECT_EQ(lags[0], 18);
    EXPECT_EQ(lags[1], 145);
    EXPECT_EQ(lags[2], 19);
    EXPECT_EQ(lags[3], 82);
}

struct LagCase {
    int a, b, c;
    int lag0, lag1, lag2;
};

TEST(Lags, FourEightRateDifferentialLagNearTheRangeEnds) {
    const LagCase cases[] = {
        // bit 4 of c clear: sub-frame 1 against sub-frame 0
        {5, 40, 3, 23, 21, 58}, // a < 8: window 18..33
        {7, 0, 15, 25, 33, 18},
        {121, 9, 0, 139, 130, 27}, // a > 120: window 130..145
        {127, 127, 15, 145, 145, 145},
        {8, 50, 0, 26, 18, 68}, // a = 8: window from lag0 - 8
        {120, 50, 15, 138, 145, 68},
        // bit 4 set: sub-frame 2 against sub-frame 1
        {60, 2, 16 + 4, 78, 20, 22},
        {60, 125, 16 + 0, 78, 143, 130},
        {60, 100, 16 + 15, 78, 118, 125},
    };
    for (const LagCase &k : cases) {
        VocoderParams p{};
        p[4] = static_cast<uint16_t>(k.a);
        p[5] = static_cast<uint16_t>(k.b);
        p[6] = static_cast<uint16_t>(k.c);
        int lags[kMaxSubframes];
        RebuildLags(p, kRate4800, lags);
        EXPECT_EQ(lags[0], k.lag0) << k.a << " " << k.b << " " << k.c;
        EXPECT_EQ(lags[1], k.lag1) << k.a << " " << k.b << " " << k.c;
        EXPECT_EQ(lags[2], k.lag2) << k.a << " " << k.b << " " << k.c;
    }
}

TEST(Lags, EveryLagWordCombinationGivesLagsInRange) {
    for (int a = 0; a < 128; ++a) {
        for (int b = 0; b < 128; ++b) {
            for (int c = 0; c < 32; ++c) {
                VocoderParams p{};
                p[4] = static_cast<uint16_t>(a);
                p[5] = static_cast<uint16_t>(b);
                p[6] = static_cast<uint16_t>(c);
                int lags[kMaxSubframes];
                RebuildLags(p, kRate4800, lags);
                for (int k = 0; k < 3; ++k) {
                    ASSERT_GE(lags[k], kMinLag);
                    ASSERT_LE(lags[k], kMaxLag);
                }
            }
        }
    }
}

TEST(Lags, DifferentialCodeRoundTripsOverTheWholeSearchWindow) {
    for (int reference = kMinLag; reference <= kMaxLag; ++reference) {
        const int centre = DifferentialCentre(reference);
        // The search keeps its result one step inside the window.
        for (int lag = centre - 7; lag <= centre + 6; ++lag) {
            const int code = DifferentialCode(lag, reference);
            ASSERT_GE(code, 1) << reference << " " << lag;
            ASSERT_LE(code, 14) << reference << " " << lag;
            ASSERT_EQ(DifferentialLag(code, reference), lag) << reference;
        }
    }
}

} // namespace
} // namespace vntr::vt4864v6
