// The 96-bit frame: field order and widths, the lag rules, the position word.
#include "bitstream.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>

namespace vntr::vt120 {
namespace {

FrameFields RandomFields(std::mt19937 &rng) {
    FrameFields f{};
    f.type = static_cast<int>(rng() % 32);
    for (int &i : f.lsp) i = static_cast<int>(rng() % 64);
    f.pitch[0] = static_cast<int>(rng() % (1 << 14));
    f.pitch[1] = static_cast<int>(rng() % (1 << 9));
    for (int k = 0; k < kSubframes; ++k) {
        f.amplitude[k] = static_cast<int>(rng() % 64);
        f.positions[k] = static_cast<int>(rng() % 4096);
        f.signs[k] = static_cast<int>(rng() % 16);
    }
    return f;
}

bool Same(const FrameFields &a, const FrameFields &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(Bitstream, RandomParameterSetsSurvivePackAndUnpack) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 2000; ++trial) {
        const FrameFields f = RandomFields(rng);
        uint8_t bytes[kCodedBytes];
        PackFrame(f, bytes);
        EXPECT_TRUE(Same(UnpackFrame(bytes), f)) << trial;
    }
}

TEST(Bitstream, FieldsSitLeastSignificantBitFirstInTheirOrder) {
    // One field at a time set to all ones: its bits must be exactly the
    // stream bits from its offset on.
    const int widths[] = {5, 6, 6, 6, 6, 14, 9, 6, 12, 4, 6, 12, 4};
    int offset = 0;
    for (int field = 0; field < 13; ++field) {
        FrameFields f{};
        int *slots[] = {&f.type,         &f.lsp[0],       &f.lsp[1],       &f.lsp[2],       &f.lsp[3],
                        &f.pitch[0],     &f.pitch[1],     &f.amplitude[0], &f.positions[0], &f.signs[0],
                        &f.amplitude[1], &f.positions[1], &f.signs[1]};
        *slots[field] = (1 << widths[field]) - 1;
        uint8_t bytes[kCodedBytes];
        PackFrame(f, bytes);
        for (int bit = 0; bit < kCodedBits; ++bit) {
            const bool set = (bytes[bit / 8] >> (bit % 8)) & 1;
            EXPECT_EQ(set, bit >= offset && bit < offset + widths[field]) << "field " << field << " bit " << bit;
        }
        offset += widths[field];
    }
    EXPECT_EQ(offset, kCodedBits);
}

TEST(Bitstream, ZeroBytesCarryTypeZeroAndTypeThreeIsOneOneZeroZeroZero) {
    const uint8_t zero[kCodedBytes] = {};
    EXPECT_EQ(UnpackFrame(zero).type, 0);
    FrameFields f{};
    f.type = kSpeechFrame;
    uint8_t bytes[kCodedBytes];
    PackFrame(f, bytes);
    EXPECT_EQ(bytes[0] & 31, 0b00011);
}

TEST(Bitstream, ComfortNoiseLevelFollowsTheLspIndices) {
    uint8_t bytes[kCodedBytes] = {};
    // Level 0x1A5 at bits 29..37.
    const int level = 0x1A5;
    for (int b = 0; b < 9; ++b) {
        if ((level >> b) & 1) bytes[(29 + b) / 8] |= static_cast<uint8_t>(1 << ((29 + b) % 8));
    }
    EXPECT_EQ(ComfortNoiseLevel(bytes), level);
}

TEST(Lags, FromThePitchWords) {
    int lags[2];
    DecodeLags(127 * 128, 0, lags);
    EXPECT_EQ(lags[0], 145);
    DecodeLags(127 * 128 + 5, 1 * 128, lags);
    EXPECT_EQ(lags[1], 145);
    DecodeLags(127 * 128, 3 * 128, lags);
    EXPECT_EQ(lags[1], 143);
    DecodeLags(127 * 128, 0, lags);
    EXPECT_EQ(lags[1], 146); // never written, still inside the history
    for (int lag0 : {18, 19}) {
        for (int d = 0; d < 4; ++d) {
            DecodeLags((lag0 - 18) * 128 + 77, d * 128 + 3, lags);
            EXPECT_EQ(lags[0], lag0);
            EXPECT_EQ(lags[1], 18 + d);
        }
    }
    DecodeLags((60 - 18) * 128, 0, lags);
    EXPECT_EQ(lags[1], 58);
    DecodeLags((60 - 18) * 128, 3 * 128 + 127, lags);
    EXPECT_EQ(lags[1], 61);
}

TEST(Lags, TheEncodersDifferenceCodesDecodeBack) {
    for (int lag0 = 18; lag0 <= 143; ++lag0) {
        const int centre = lag0 < 19 ? 19 : (lag0 > 144 ? 144 : lag0);
        for (int lag1 = centre - 1; lag1 <= centre + 1; ++lag1) {
            const int d = LagDifferenceCode(lag0, lag1);
            ASSERT_GE(d, 0);
            ASSERT_LE(d, 3);
            EXPECT_EQ(lag0 <= 19 ? d <= 2 : d >= 1, true) << lag0 << " " << lag1;
            int lags[2];
            DecodeLags((lag0 - 18) * 128, d * 128, lags);
            EXPECT_EQ(lags[1], lag1) << lag0;
        }
    }
}

TEST(Pulses, PositionWordZeroGivesZeroToThree) {
    int p[kPulses];
    PulsePositions(0, p);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 1);
    EXPECT_EQ(p[2], 2);
    EXPECT_EQ(p[3], 3);
}

TEST(Pulses, EveryWordPutsPulseJOnTrackJAndEverySetOccursOnce) {
    std::set<int> sets;
    for (int word = 0; word < 4096; ++word) {
        int p[kPulses];
        PulsePositions(word, p);
        int key = 0;
        for (int j = 0; j < kPulses; ++j) {
            ASSERT_GE(p[j], 0);
            ASSERT_LT(p[j], kSubframeLength);
            ASSERT_EQ(p[j] % 4, j) << word;
            key = key * 32 + p[j];
        }
        sets.insert(key);
    }
    EXPECT_EQ(sets.size(), 4096u);
    // The codes step from pulse to pulse, with the wrap at 32.
    int p[kPulses];
    PulsePositions(7 | (7 << 3) | (1 << 6) | (2 << 9), p);
    EXPECT_EQ(p[0], 28);
    EXPECT_EQ(p[1], (28 + 29) % 32);
    EXPECT_EQ(p[2], (p[1] + 5) % 32);
    EXPECT_EQ(p[3], (p[2] + 9) % 32);
}

} // namespace
} // namespace vntr::vt120
