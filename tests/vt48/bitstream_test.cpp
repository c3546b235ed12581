// The 96-bit frame: every field at its bits, random parameter sets through
// packing and back, and the lags rebuilt from the field and the deltas.
#include "bitstream.hpp"

#include <gtest/gtest.h>

#include <random>

namespace vntr::vt48 {
namespace {

uint16_t Word(const uint8_t *bytes, int w) {
    return static_cast<uint16_t>(bytes[2 * w] | (bytes[2 * w + 1] << 8));
}

TEST(Bitstream, EachParameterLandsOnItsOwnBits) {
    // (parameter, word, mask of its bits in that word)
    struct Place {
        int parameter;
        int word;
        uint16_t mask;
    };
    const Place places[] = {
        {0, 0, 0xE000},  {1, 0, 0x1E00},  {2, 0, 0x01E0},  {17, 0, 0x001F}, {3, 1, 0xE000},  {21, 1, 0x1F00},
        {12, 1, 0x00FF}, {4, 2, 0xF000},  {5, 2, 0x0E00},  {6, 2, 0x01C0},  {7, 2, 0x0030},  {8, 2, 0x000E},
        {9, 2, 0x0001},  {10, 3, 0xFE00}, {11, 3, 0x01E0}, {13, 3, 0x001F}, {14, 4, 0xF000}, {15, 4, 0x0F00},
        {16, 4, 0x00FF}, {18, 5, 0xF000}, {19, 5, 0x0F00}, {20, 5, 0x00FF},
    };
    uint16_t covered[6] = {};
    for (const Place &p : places) {
        FrameParams params;
        params.value[static_cast<std::size_t>(p.parameter)] = 0xFFFF; // wider than any field: masked
        uint8_t bytes[kCodedBytes];
        PackFrame(params, bytes);
        for (int w = 0; w < 6; ++w) {
            EXPECT_EQ(Word(bytes, w), w == p.word ? p.mask : 0) << "parameter " << p.parameter << " word " << w;
        }
        EXPECT_EQ(covered[p.word] & p.mask, 0) << "fields overlap";
        covered[p.word] |= p.mask;
    }
    for (uint16_t c : covered) EXPECT_EQ(c, 0xFFFF) << "every bit belongs to a field";
}

TEST(Bitstream, WordsAreLittleEndian) {
    FrameParams params;
    params.lag(0) = 0x7F;       // W3 bits 15-9
    params.codebookGain(0) = 1; // W3 bit 0
    uint8_t bytes[kCodedBytes];
    PackFrame(params, bytes);
    EXPECT_EQ(bytes[6], 0x01);
    EXPECT_EQ(bytes[7], 0xFE);
}

TEST(Bitstream, RandomParameterSetsComeBackUnchanged) {
    std::mt19937 rng(48);
    for (int trial = 0; trial < 2000; ++trial) {
        FrameParams params;
        for (int i = 0; i < kParameters; ++i) {
            params.value[static_cast<std::size_t>(i)] = static_cast<uint16_t>(rng() & ((1u << kParameterBits[i]) - 1));
        }
        uint8_t bytes[kCodedBytes];
        PackFrame(params, bytes);
        ASSERT_EQ(UnpackFrame(bytes), params);
    }
    // And every byte pattern is a parameter set that packs back to itself.
    for (int trial = 0; trial < 2000; ++trial) {
        uint8_t bytes[kCodedBytes];
        for (auto &b : bytes) b = static_cast<uint8_t>(rng());
        uint8_t again[kCodedBytes];
        PackFrame(UnpackFrame(bytes), again);
        ASSERT_TRUE(std::equal(bytes, bytes + kCodedBytes, again));
    }
}

TEST(Bitstream, LagsFollowTheFieldAndTheDeltas) {
    FrameParams params;
    params.lag(0) = 40; // lag 60
    params.lag(1) = 0;  // -7
    params.lag(2) = 15; // +8
    int lags[kSubframes];
    DecodeLags(params, lags);
    EXPECT_EQ(lags[0], 60);
    EXPECT_EQ(lags[1], 53);
    EXPECT_EQ(lags[2], 61);

    // The shortest lags a stream can carry: 20, 13, 6.
    params.lag(0) = 0;
    params.lag(1) = 0;
    params.lag(2) = 0;
    DecodeLags(params, lags);
    EXPECT_EQ(lags[0], 20);
    EXPECT_EQ(lags[1], 13);
    EXPECT_EQ(lags[2], 6);
}

TEST(Bitstream, DamagedDeltasAreHeldAtTheLongestLagTheHistoryServes) {
    FrameParams params;
    params.lag(0) = 127; // lag 147
    params.lag(1) = 15;  // would be 155
    params.lag(2) = 15;  // would be 163, or 155 from the held lag
    int lags[kSubframes];
    DecodeLags(params, lags);
    EXPECT_EQ(lags[1], kMaxLag);
    EXPECT_EQ(lags[2], kMaxLag);
    // The next delta counts from the lag actually used.
    params.lag(2) = 0;
    DecodeLags(params, lags);
    EXPECT_EQ(lags[2], kMaxLag - 7);
    // 140 + 8 = 148 is one beyond the history as well.
    params.lag(0) = 120;
    params.lag(1) = 15;
    DecodeLags(params, lags);
    EXPECT_EQ(lags[1], kMaxLag);
}

} // namespace
} // namespace vntr::vt48
