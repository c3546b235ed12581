// The excitation both sides build: the adaptive vector with its periodic
// repeat, the three fixed codebooks with their signs, the gains, and the
// decoder's pitch sharpening.
#include "excitation.hpp"
#include "searches.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <vector>

namespace vntr::vt48 {
namespace {

std::vector<float> Ramp() {
    std::vector<float> h(kHistory);
    std::iota(h.begin(), h.end(), 1.0f); // history[i] = i + 1
    return h;
}

TEST(AdaptiveVector, ALagOfAtLeastTheSubframeCopiesTheHistory) {
    const auto history = Ramp();
    float v[kMaxSubframeLength];
    AdaptiveVector(history.data(), 54, 54, v);
    for (int n = 0; n < 54; ++n) EXPECT_EQ(v[n], history[static_cast<std::size_t>(148 - 54 + n)]);
    AdaptiveVector(history.data(), kMaxLag, 53, v);
    EXPECT_EQ(v[0], history[1]); // the longest lag starts one after the oldest sample
    EXPECT_EQ(v[52], history[53]);
}

TEST(AdaptiveVector, AShortLagRepeatsTheLastSamplesPeriodically) {
    const auto history = Ramp();
    float v[kMaxSubframeLength];
    // The shortest lag a stream can carry, in the third subframe.
    AdaptiveVector(history.data(), 6, 53, v);
    for (int n = 0; n < 53; ++n) EXPECT_EQ(v[n], history[static_cast<std::size_t>(142 + n % 6)]) << n;
    // One less than the subframe: only the last sample repeats once.
    AdaptiveVector(history.data(), 53, 54, v);
    EXPECT_EQ(v[52], history[147]);
    EXPECT_EQ(v[53], v[0]);
}

TEST(FixedContribution, PulseTrainRepeatsAtTheLagWithFourTimesTheGain) {
    float e[kMaxSubframeLength] = {};
    AddFixedContribution(5, 2.0f, 20, 54, e);
    for (int n = 0; n < 54; ++n) EXPECT_EQ(e[n], (n == 5 || n == 25 || n == 45) ? 8.0f : 0.0f) << n;
    // A position beyond the subframe adds nothing (codes 54..63 in a 54-sample subframe).
    float quiet[kMaxSubframeLength] = {};
    AddFixedContribution(60, 2.0f, 20, 54, quiet);
    for (float x : quiet) EXPECT_EQ(x, 0.0f);
    // Pulses are added to what is there.
    float base[kMaxSubframeLength];
    for (float &x : base) x = 1.0f;
    AddFixedContribution(0, -1.0f, 53, 53, base);
    EXPECT_EQ(base[0], -3.0f);
    EXPECT_EQ(base[1], 1.0f);
}

TEST(FixedContribution, SevenAndEightPulseSignsFollowTheCodeBits) {
    int8_t signs[kEightPulses];
    // Code 65 is the silence code: +, -, -, -, -, -, +.
    ASSERT_EQ(PulseSigns(65, signs), 7);
    const int8_t silence[] = {1, -1, -1, -1, -1, -1, 1};
    EXPECT_TRUE(std::equal(silence, silence + 7, signs));
    ASSERT_EQ(PulseSigns(64 + 0b100000, signs), 7); // bit 5 is pulse 1
    EXPECT_EQ(signs[1], 1);
    EXPECT_EQ(signs[2], -1);
    ASSERT_EQ(PulseSigns(128 + 0b1000000, signs), 8); // bit 6 is pulse 1
    EXPECT_EQ(signs[1], 1);
    EXPECT_EQ(signs[7], -1);
    ASSERT_EQ(PulseSigns(255, signs), 8);
    for (int j = 0; j < 8; ++j) EXPECT_EQ(signs[j], 1);

    float e[kMaxSubframeLength] = {};
    AddFixedContribution(65, 3.0f, 40, 53, e);
    const int seven[] = {3, 11, 19, 27, 35, 43, 51};
    for (int j = 0; j < 7; ++j) EXPECT_EQ(e[seven[j]], 3.0f * silence[j]);
    EXPECT_EQ(e[0] + e[4] + e[52], 0.0f);

    float f[kMaxSubframeLength] = {};
    AddFixedContribution(128, 2.0f, 40, 53, f);
    const int eight[] = {0, 7, 14, 21, 28, 35, 42, 49};
    for (int j = 0; j < 8; ++j) EXPECT_EQ(f[eight[j]], j == 0 ? 2.0f : -2.0f);
}

// The encoder's quantisers and the decoder's tables are two lists of the
// same levels: every level, coded, must come back as itself, the levels rise
// with the index, the thresholds lie between neighbouring levels, and the
// codebook gain's upper 16 indices are the lower 16 negated.
TEST(Gains, EveryLevelCodesToItsOwnIndexAndTheLevelsRise) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(QuantisePitchGain(PitchGainValue(i)), i) << i;
        if (i > 0) {
            EXPECT_GT(PitchGainValue(i), PitchGainValue(i - 1)) << i;
            // Just either side of the decision between i - 1 and i.
            const float mid = 0.5f * (PitchGainValue(i - 1) + PitchGainValue(i));
            EXPECT_EQ(QuantisePitchGain(std::nextafter(PitchGainValue(i - 1), mid)), i - 1) << i;
            EXPECT_EQ(QuantisePitchGain(std::nextafter(PitchGainValue(i), mid)), i) << i;
        }
    }
    EXPECT_EQ(QuantisePitchGain(-5.0f), 0);
    EXPECT_EQ(QuantisePitchGain(5.0f), 15);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(QuantiseCodebookGain(CodebookGainValue(i)), i) << i;
        const int magnitude = i & 15;
        EXPECT_EQ(CodebookGainValue(i), (i < 16 ? 1.0f : -1.0f) * CodebookGainValue(magnitude)) << i;
        if (magnitude > 0) {
            EXPECT_GT(CodebookGainValue(magnitude), CodebookGainValue(magnitude - 1)) << i;
            const float mid = 0.5f * (CodebookGainValue(magnitude - 1) + CodebookGainValue(magnitude));
            const float sign = i < 16 ? 1.0f : -1.0f;
            EXPECT_EQ(QuantiseCodebookGain(sign * std::nextafter(CodebookGainValue(magnitude - 1), mid)), i - 1) << i;
            EXPECT_EQ(QuantiseCodebookGain(sign * std::nextafter(CodebookGainValue(magnitude), mid)), i) << i;
        }
    }
    EXPECT_GT(CodebookGainValue(0), 0.0f);
    EXPECT_EQ(QuantiseCodebookGain(1e6f), 15);
    EXPECT_EQ(QuantiseCodebookGain(-1e6f), 31);
}

TEST(Excitation, IsTheScaledAdaptiveVectorPlusPulsesAndEntersTheHistory) {
    auto history = Ramp();
    float v[kMaxSubframeLength];
    AdaptiveVector(history.data(), 60, 54, v);
    float e[kMaxSubframeLength];
    BuildExcitation(history.data(), v, 0.5f, 3, 10.0f, 60, 54, e);
    EXPECT_EQ(e[0], 0.5f * 89.0f);
    EXPECT_EQ(e[3], 0.5f * 92.0f + 40.0f);
    for (int n = 0; n < 54; ++n) EXPECT_EQ(history[static_cast<std::size_t>(94 + n)], e[n]);
    EXPECT_EQ(history[0], 55.0f); // shifted left by the subframe
}

TEST(Excitation, RunawayGainsAreHeldWithinTheLimit) {
    std::vector<float> history(kHistory, 1.0f);
    float v[kMaxSubframeLength];
    float e[kMaxSubframeLength];
    // A damaged stream: the largest pitch gain and codebook gain, frame after frame.
    for (int round = 0; round < 3000; ++round) {
        AdaptiveVector(history.data(), 20, 53, v);
        BuildExcitation(history.data(), v, PitchGainValue(15), 0, CodebookGainValue(15), 20, 53, e);
    }
    for (float x : history) {
        ASSERT_LE(x, kExcitationLimit);
        ASSERT_GE(x, -kExcitationLimit);
    }
    EXPECT_EQ(history[kHistory - 1], kExcitationLimit);
}

TEST(Sharpening, ReadsTheSmoothedHistoryThenItsOwnOutput) {
    std::vector<float> smoothed(kHistory, 0.0f);
    smoothed[kHistory - 10] = 2.0f; // 10 samples back
    float e[kMaxSubframeLength] = {};
    e[0] = 1.0f;
    // gp 1.55 is held to 1: beta 0.35.
    SharpenPitch(smoothed.data(), 1.55f, 10, 53, e);
    EXPECT_FLOAT_EQ(e[0], 1.0f + 0.35f * 2.0f);
    EXPECT_FLOAT_EQ(e[10], 0.35f * e[0]); // from the already sharpened sample
    EXPECT_FLOAT_EQ(e[20], 0.35f * 0.35f * e[0]);
    EXPECT_FLOAT_EQ(e[5], 0.0f);
    EXPECT_FLOAT_EQ(smoothed[kHistory - 53], e[0]); // the sharpened samples enter the history

    std::vector<float> none(kHistory, 5.0f);
    float g[kMaxSubframeLength] = {};
    SharpenPitch(none.data(), -3.0f, 60, 53, g); // lag beyond the subframe: all from the history, beta -0.35
    for (int n = 0; n < 53; ++n) EXPECT_FLOAT_EQ(g[n], -0.35f * 5.0f);
}

} // namespace
} // namespace vntr::vt48
