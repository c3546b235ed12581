// From coded fields to frame parameters: the value mappings, the LSF rules,
// and indices held inside their tables whatever a damaged stream says.
#include "parameters.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace vntr::vt15 {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

DifferenceHistory FreshHistory() {
    DifferenceHistory h;
    InitDifferenceHistory(h, 0);
    return h;
}

TEST(Parameters, PitchIsLogUniformFrom20To160AndItsNearestIndexInvertsIt) {
    EXPECT_NEAR(PitchFromIndex(0), 20.0f, 1e-3f);
    EXPECT_NEAR(PitchFromIndex(63), 160.0f, 0.01f);
    for (int i = 1; i < kPitchLevels; ++i) {
        EXPECT_NEAR(PitchFromIndex(i) / PitchFromIndex(i - 1), std::pow(8.0f, 1.0f / 63.0f), 1e-4f);
        EXPECT_EQ(NearestPitchIndex(PitchFromIndex(i)), i);
        // Just above the midpoint in the log domain goes up.
        const float mid = std::sqrt(PitchFromIndex(i) * PitchFromIndex(i - 1));
        EXPECT_EQ(NearestPitchIndex(mid * 1.001f), i);
        EXPECT_EQ(NearestPitchIndex(mid * 0.999f), i - 1);
    }
    EXPECT_EQ(NearestPitchIndex(5.0f), 0);
    EXPECT_EQ(NearestPitchIndex(400.0f), 63);
}

TEST(Parameters, GainLevelsAndTheFirstGainBetweenItsNeighbours) {
    EXPECT_FLOAT_EQ(Gain2FromIndex(0), 10.0f);
    EXPECT_NEAR(Gain2FromIndex(31), 77.0f, 1e-4f);
    EXPECT_EQ(NearestGain2Index(10.0f + 2.1612904f * 4.49f), 4);
    EXPECT_EQ(NearestGain2Index(10.0f + 2.1612904f * 4.51f), 5);
    EXPECT_EQ(NearestGain2Index(-20.0f), 0);
    EXPECT_EQ(NearestGain2Index(120.0f), 31);
    // Index 0: the mean of this and the previous second gain.
    EXPECT_FLOAT_EQ(Gain1FromIndex(0, 40.0f, 30.0f), 35.0f);
    // 1..7: seven levels from lo = max(min - 6, 10) to hi = min(max + 6, 77).
    EXPECT_FLOAT_EQ(Gain1FromIndex(1, 40.0f, 30.0f), 24.0f);
    EXPECT_FLOAT_EQ(Gain1FromIndex(7, 40.0f, 30.0f), 46.0f);
    EXPECT_FLOAT_EQ(Gain1FromIndex(4, 40.0f, 30.0f), 35.0f);
    EXPECT_FLOAT_EQ(Gain1FromIndex(1, 12.0f, 14.0f), 10.0f);
    EXPECT_FLOAT_EQ(Gain1FromIndex(7, 75.0f, 70.0f), 77.0f);
}

TEST(Parameters, VoicingPatternsAndPatternOne) {
    float v[kBands];
    VoicingFromPattern(0b1010, v);
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_EQ(v[1], 1.0f);
    EXPECT_EQ(v[2], 0.0f);
    EXPECT_EQ(v[3], 1.0f);
    EXPECT_EQ(v[4], 0.0f);
    // Pattern 1 (band 5 alone) decodes as band 1 only.
    VoicingFromPattern(1, v);
    EXPECT_EQ(v[0], 1.0f);
    for (int b = 1; b < kBands; ++b) EXPECT_EQ(v[b], 0.0f);
    VoicingFromPattern(15, v);
    for (int b = 0; b < kBands; ++b) EXPECT_EQ(v[b], 1.0f);
}

TEST(LsfRule, OrdersAndSpacesAVectorAndLeavesAGoodOneAlone) {
    float good[kOrder];
    InitialLsf(good);
    float copy[kOrder];
    std::copy(good, good + kOrder, copy);
    OrderAndSpaceLsf(copy);
    for (int k = 0; k < kOrder; ++k) EXPECT_EQ(copy[k], good[k]);

    float crossed[kOrder] = {0.3f, 0.2f, 0.5f, 0.9f, 0.905f, 1.4f, 1.8f, 2.2f, 2.6f, 3.0f};
    OrderAndSpaceLsf(crossed);
    for (int k = 1; k < kOrder; ++k) EXPECT_GE(crossed[k] - crossed[k - 1], kLsfAcceptedSpacing) << k;
    EXPECT_NEAR(crossed[0], 0.2f, 1e-6f);
    // The close pair moved apart symmetrically, by half the deficit each.
    const float deficit = kLsfMinSpacing - 0.005f;
    EXPECT_NEAR(crossed[3], 0.9f - deficit / 2, 1e-5f);
    EXPECT_NEAR(crossed[4], 0.905f + deficit / 2, 1e-5f);
}

TEST(LsfRule, TheEdgesMoveOnlyHalfTheirRoomAndCrowdedNeighboursNotAtAll) {
    // The lowest frequency near 0 gives way by half of itself in each pass,
    // so it never reaches 0.
    float low[kOrder] = {0.01f, 0.02f, 0.5f, 0.8f, 1.1f, 1.4f, 1.7f, 2.0f, 2.3f, 2.6f};
    OrderAndSpaceLsf(low);
    EXPECT_LT(low[0], 0.01f);
    EXPECT_GT(low[0], 0.0f);
    EXPECT_GE(low[1] - low[0], kLsfAcceptedSpacing);
    EXPECT_NEAR(low[2], 0.5f, 1e-6f) << "the gap above was wide enough to be left alone";
    // The highest near pi likewise.
    float high[kOrder] = {0.3f, 0.6f, 0.9f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, kPi - 0.03f, kPi - 0.02f};
    OrderAndSpaceLsf(high);
    EXPECT_LT(high[9], kPi);
    EXPECT_GE(high[9] - high[8], kLsfAcceptedSpacing);
    // Three frequencies bunched together: the outer gaps are too small to lend
    // room at first, and the passes still spread them.
    float bunch[kOrder] = {0.3f, 0.6f, 0.9f, 1.0f, 1.01f, 1.02f, 1.8f, 2.1f, 2.4f, 2.7f};
    OrderAndSpaceLsf(bunch);
    for (int k = 1; k < kOrder; ++k) EXPECT_GE(bunch[k] - bunch[k - 1], kLsfAcceptedSpacing) << k;
    EXPECT_NEAR(bunch[6], 1.8f, 1e-6f);
}

TEST(LsfRule, ValuesADamagedStreamCanReachAreHeldInsideTheBand) {
    float wild[kOrder] = {-0.4f, 0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 3.3f, 3.5f, 9.0f};
    OrderAndSpaceLsf(wild);
    for (int k = 0; k < kOrder; ++k) {
        EXPECT_GT(wild[k], 0.0f);
        EXPECT_LT(wild[k], kPi);
        if (k > 0) {
            EXPECT_GE(wild[k], wild[k - 1]);
        }
    }
}

TEST(DecodeParameters, ClassFiveRightAfterOpenRepeatsTheInitialParameters) {
    DifferenceHistory h = FreshHistory();
    FrameFields f;
    f.frameClass = kClassRepeat;
    FrameParameters p;
    DecodeParameters(f, DefaultLsfCodebook(), h, p);
    EXPECT_EQ(p.pitch, kUnvoicedPitch);
    for (float v : p.voicing) EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(p.gain[1], 10.0f);
    EXPECT_EQ(p.gain[0], 10.0f);
    float initial[kOrder];
    InitialLsf(initial);
    for (int k = 0; k < kOrder; ++k) EXPECT_EQ(p.lsf[k], initial[k]);
}

TEST(DecodeParameters, ARunOfClassFiveFramesRepeatsGainAndSpectrum) {
    DifferenceHistory h = FreshHistory();
    FrameFields low;
    low.frameClass = kClassLowLevel;
    low.value[kFieldGain2] = 9;
    low.value[kFieldLsf] = 5;
    low.value[kFieldLsf + 1] = 3;
    FrameParameters first;
    DecodeParameters(low, DefaultLsfCodebook(), h, first);
    FrameFields repeat;
    repeat.frameClass = kClassRepeat;
    for (int i = 0; i < 5; ++i) {
        FrameParameters p;
        DecodeParameters(repeat, DefaultLsfCodebook(), h, p);
        EXPECT_EQ(p.gain[1], first.gain[1]);
        EXPECT_EQ(p.gain[0], first.gain[1]); // the mean of two equal gains
        for (int k = 0; k < kOrder; ++k) EXPECT_EQ(p.lsf[k], first.lsf[k]);
        EXPECT_EQ(h.frameClass, kClassRepeat);
    }
}

TEST(DecodeParameters, DifferenceClassesBuildOnThePreviousFrame) {
    DifferenceHistory h = FreshHistory();
    FrameFields voiced;
    voiced.frameClass = kClassVoiced;
    voiced.value[kFieldPitch] = 30;
    voiced.value[kFieldJitter] = 1;
    voiced.value[kFieldPattern] = 9;
    voiced.value[kFieldGain2] = 20;
    FrameParameters p;
    DecodeParameters(voiced, DefaultLsfCodebook(), h, p);
    EXPECT_EQ(p.pitch, PitchFromIndex(30));
    EXPECT_EQ(p.jitter, 0.25f);
    EXPECT_EQ(p.gain[1], Gain2FromIndex(20));
    const float before[kOrder] = {h.lsf[0], h.lsf[1], h.lsf[2], h.lsf[3], h.lsf[4],
                                  h.lsf[5], h.lsf[6], h.lsf[7], h.lsf[8], h.lsf[9]};

    FrameFields next;
    next.frameClass = kClassVoicedContinued;
    next.value[kFieldPitch] = 7;   // +3
    next.value[kFieldPattern] = 2; // pattern 10
    next.value[kFieldGain2] = 0;   // -2
    DecodeParameters(next, DefaultLsfCodebook(), h, p);
    EXPECT_EQ(h.pitchIndex, 33);
    EXPECT_EQ(h.gain2Index, 18);
    EXPECT_EQ(p.gain[0], 0.5f * (Gain2FromIndex(18) + Gain2FromIndex(20)));
    EXPECT_EQ(p.voicing[1], 1.0f);
    EXPECT_EQ(p.voicing[3], 1.0f);
    EXPECT_EQ(p.voicing[4], 0.0f);
    // Stages 2..6 added to the previous vector (all index 0 here).
    const LsfCodebook &book = DefaultLsfCodebook();
    float expected[kOrder];
    for (int k = 0; k < kOrder; ++k) {
        expected[k] = before[k];
        for (int s = 1; s < kLsfStages; ++s) expected[k] += book.stage[s][k];
    }
    OrderAndSpaceLsf(expected);
    for (int k = 0; k < kOrder; ++k) EXPECT_EQ(p.lsf[k], expected[k]);
}

TEST(DecodeParameters, DamagedDifferencesNeverLeaveThePitchOrGainTables) {
    DifferenceHistory h = FreshHistory();
    FrameFields top;
    top.frameClass = kClassVoiced;
    top.value[kFieldPitch] = 63;
    top.value[kFieldGain2] = 31;
    FrameParameters p;
    DecodeParameters(top, DefaultLsfCodebook(), h, p);
    FrameFields up;
    up.frameClass = kClassVoicedContinued;
    up.value[kFieldPitch] = 7; // +3 beyond index 63
    up.value[kFieldGain2] = 7; // +5 beyond index 31
    for (int i = 0; i < 3; ++i) {
        DecodeParameters(up, DefaultLsfCodebook(), h, p);
        EXPECT_EQ(h.pitchIndex, 63);
        EXPECT_EQ(h.gain2Index, 31);
        EXPECT_LE(p.pitch, 160.01f);
        EXPECT_LE(p.gain[1], 77.01f);
    }
    FrameFields down;
    down.frameClass = kClassVoiced;
    down.value[kFieldPitch] = 0;
    down.value[kFieldGain2] = 0;
    DecodeParameters(down, DefaultLsfCodebook(), h, p);
    FrameFields fall = up;
    fall.value[kFieldPitch] = 0; // -4
    fall.value[kFieldGain2] = 0; // -2
    DecodeParameters(fall, DefaultLsfCodebook(), h, p);
    EXPECT_EQ(h.pitchIndex, 0);
    EXPECT_EQ(h.gain2Index, 0);
    // Class 3 at both ends of the gain table.
    FrameFields unvoiced;
    unvoiced.frameClass = kClassUnvoiced;
    unvoiced.value[kFieldGain2] = 30;
    DecodeParameters(unvoiced, DefaultLsfCodebook(), h, p);
    FrameFields more;
    more.frameClass = kClassUnvoicedContinued;
    more.value[kFieldGain2] = 15; // +7
    DecodeParameters(more, DefaultLsfCodebook(), h, p);
    EXPECT_EQ(h.gain2Index, 31);
    more.value[kFieldGain2] = 0; // -8, four times
    for (int i = 0; i < 4; ++i) DecodeParameters(more, DefaultLsfCodebook(), h, p);
    EXPECT_EQ(h.gain2Index, 0);
    EXPECT_EQ(p.gain[1], 10.0f);
}

TEST(DecodeParameters, EveryFieldPatternGivesParametersInRange) {
    std::mt19937 rng(11);
    DifferenceHistory h = FreshHistory();
    for (int i = 0; i < 20000; ++i) {
        FrameFields f;
        int c = static_cast<int>(rng() % kClassCount);
        if (!ClassCanFollow(c, h.frameClass)) c -= 1;
        f.frameClass = c;
        for (int k = 1; k < kFieldCount; ++k) {
            const int w = kFieldWidths[c][k];
            f.value[k] = w ? static_cast<uint16_t>(rng() & ((1u << w) - 1)) : 0;
        }
        FrameParameters p;
        DecodeParameters(f, DefaultLsfCodebook(), h, p);
        ASSERT_GE(p.pitch, 19.99f);
        ASSERT_LE(p.pitch, 160.01f);
        ASSERT_GE(p.gain[0], 10.0f);
        ASSERT_LE(p.gain[0], 77.01f);
        ASSERT_GE(p.gain[1], 10.0f);
        ASSERT_LE(p.gain[1], 77.01f);
        for (int k = 0; k < kOrder; ++k) {
            ASSERT_GT(p.lsf[k], 0.0f);
            ASSERT_LT(p.lsf[k], kPi);
            if (k > 0) {
                ASSERT_GE(p.lsf[k], p.lsf[k - 1]);
            }
        }
    }
}

} // namespace
} // namespace vntr::vt15
