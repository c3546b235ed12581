// The encoder's decisions: activity hang-over, smoothing, quantisation,
// the class decision with its fall-backs and the difference codes.
#include "encoder.hpp"
#include "parameters.hpp"
#include "pitch_analysis.hpp"
#include "smoothing.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt15 {
namespace {

FrameRecord Record(bool active, bool voiced, float pitch = 60.0f, float gainDb = 50.0f) {
    FrameRecord r;
    InitRecord(r);
    r.active = active;
    r.pitch = pitch;
    r.averagePitch = pitch;
    r.gain[0] = r.gain[1] = gainDb;
    for (float &v : r.voicing) v = voiced ? 1.0f : 0.0f;
    return r;
}

// A previous record as the quantiser leaves it.
FrameRecord Quantised(int frameClass, int pitchIndex, int gain2Index) {
    FrameRecord r = Record(frameClass < kClassLowLevel, frameClass <= kClassVoicedContinued);
    r.frameClass = frameClass;
    r.pitchIndex = pitchIndex;
    r.gain2Index = gain2Index;
    r.pitch = PitchFromIndex(pitchIndex);
    return r;
}

FrameRecord VoicedAt(int pitchIndex, int gain2Index, int pattern = 15, int gain1Index = 0) {
    FrameRecord r = Record(true, true, PitchFromIndex(pitchIndex), Gain2FromIndex(gain2Index));
    r.pitchIndex = pitchIndex;
    r.gain2Index = gain2Index;
    r.gain1Index = gain1Index;
    r.pattern = pattern;
    return r;
}

TEST(Hangover, TwoInactiveFramesAfterSpeechStayActiveAndTheThirdDoesNot) {
    int counter = kHangoverFrames;
    FrameRecord prev = Record(true, true), cur = Record(true, true);
    EXPECT_TRUE(ApplyHangover(counter, true, prev, cur));
    EXPECT_EQ(counter, 0);
    EXPECT_TRUE(ApplyHangover(counter, false, prev, cur));
    EXPECT_TRUE(ApplyHangover(counter, false, prev, cur));
    EXPECT_FALSE(ApplyHangover(counter, false, prev, cur));
    EXPECT_FALSE(ApplyHangover(counter, false, prev, cur));
    EXPECT_TRUE(cur.active) << "speech frames themselves are left alone";
}

TEST(Hangover, ALoneActiveFrameBetweenInactiveOnesBecomesInactiveAndUnvoiced) {
    int counter = kHangoverFrames;
    FrameRecord prev = Record(false, false);
    FrameRecord cur = Record(true, true, 44.0f);
    EXPECT_FALSE(ApplyHangover(counter, false, prev, cur));
    EXPECT_FALSE(cur.active);
    EXPECT_FALSE(IsVoiced(cur));
    EXPECT_EQ(cur.pitch, kUnvoicedPitch);
    EXPECT_EQ(counter, kHangoverFrames);
    // Two active frames are speech, not a blip.
    FrameRecord before = Record(true, true);
    FrameRecord second = Record(true, true);
    counter = 0;
    EXPECT_TRUE(ApplyHangover(counter, false, before, second));
    EXPECT_TRUE(second.active);
}

TEST(ClassDecision, VoicedContinuationNeedsItsDifferencesToFit) {
    const FrameRecord prev = Quantised(kClassVoiced, 30, 20);
    EXPECT_EQ(CandidateClass(prev, VoicedAt(34, 20)), kClassVoicedContinued);
    EXPECT_EQ(CandidateClass(prev, VoicedAt(25, 20)), kClassVoicedContinued);
    EXPECT_EQ(CandidateClass(prev, VoicedAt(35, 20)), kClassVoiced) << "pitch +5";
    EXPECT_EQ(CandidateClass(prev, VoicedAt(24, 20)), kClassVoiced) << "pitch -6";
    EXPECT_EQ(CandidateClass(prev, VoicedAt(30, 20, 7)), kClassVoiced) << "pattern below 8";
    EXPECT_EQ(CandidateClass(prev, VoicedAt(30, 20, 15, 3)), kClassVoiced) << "first gain sent";
    // The second gain travels in 3 bits as difference + 2: -2..+5 only.
    EXPECT_EQ(CandidateClass(prev, VoicedAt(30, 25)), kClassVoicedContinued);
    EXPECT_EQ(CandidateClass(prev, VoicedAt(30, 18)), kClassVoicedContinued);
    EXPECT_EQ(CandidateClass(prev, VoicedAt(30, 26)), kClassVoiced);
    EXPECT_EQ(CandidateClass(prev, VoicedAt(30, 17)), kClassVoiced);
    // Continuation only after a voiced frame.
    EXPECT_EQ(CandidateClass(Quantised(kClassUnvoiced, 28, 20), VoicedAt(30, 20)), kClassVoiced);
    EXPECT_EQ(CandidateClass(Quantised(kClassVoicedContinued, 30, 20), VoicedAt(30, 20)), kClassVoicedContinued);
}

TEST(ClassDecision, UnvoicedAndInactiveFrames) {
    FrameRecord unvoiced = Record(true, false);
    unvoiced.gain2Index = 10;
    EXPECT_EQ(CandidateClass(Quantised(kClassUnvoiced, 28, 3), unvoiced), kClassUnvoicedContinued);
    EXPECT_EQ(CandidateClass(Quantised(kClassUnvoicedContinued, 28, 3), unvoiced), kClassUnvoicedContinued);
    EXPECT_EQ(CandidateClass(Quantised(kClassVoiced, 28, 3), unvoiced), kClassUnvoiced);
    // Class 3's second-gain step travels in 4 bits as step + 8: -8..+7 only.
    EXPECT_EQ(CandidateClass(Quantised(kClassUnvoiced, 28, 18), unvoiced), kClassUnvoicedContinued);
    EXPECT_EQ(CandidateClass(Quantised(kClassUnvoiced, 28, 19), unvoiced), kClassUnvoiced);
    EXPECT_EQ(CandidateClass(Quantised(kClassUnvoicedContinued, 28, 2), unvoiced), kClassUnvoiced);
    FrameRecord quiet = Record(false, false);
    quiet.gain2Index = 4;
    EXPECT_EQ(CandidateClass(Quantised(kClassUnvoiced, 28, 4), quiet), kClassLowLevel) << "after activity";
    EXPECT_EQ(CandidateClass(Quantised(kClassRepeat, 28, 5), quiet), kClassRepeat);
    EXPECT_EQ(CandidateClass(Quantised(kClassLowLevel, 28, 3), quiet), kClassRepeat);
    EXPECT_EQ(CandidateClass(Quantised(kClassLowLevel, 28, 6), quiet), kClassLowLevel) << "level moved by 2";
}

// Quantises `cur` after `prev` and checks that the decoder rebuilds what
// the encoder believes it sent.
FrameFields QuantiseAndCheck(const FrameRecord &prev, FrameRecord &cur) {
    FrameFields fields;
    QuantiseFrame(DefaultLsfCodebook(), prev, cur, fields, nullptr);
    DifferenceHistory h;
    h.frameClass = prev.frameClass;
    h.pitchIndex = prev.pitchIndex;
    h.gain2Index = prev.gain2Index;
    h.gain2 = Gain2FromIndex(prev.gain2Index);
    std::copy(prev.quantisedLsf, prev.quantisedLsf + kOrder, h.lsf);
    FrameParameters p;
    DecodeParameters(fields, DefaultLsfCodebook(), h, p);
    EXPECT_EQ(h.pitchIndex, cur.frameClass <= kClassVoicedContinued ? cur.pitchIndex : kUnvoicedPitchIndex);
    EXPECT_EQ(h.gain2Index, cur.gain2Index);
    for (int k = 0; k < kOrder; ++k) EXPECT_EQ(h.lsf[k], cur.quantisedLsf[k]);
    return fields;
}

TEST(Quantiser, ClassOneSendsLimitedPitchStepsAndAdoptsThem) {
    FrameRecord prev = Quantised(kClassVoiced, 30, 20);
    FrameRecord cur = VoicedAt(34, 21);
    std::copy(prev.quantisedLsf, prev.quantisedLsf + kOrder, cur.lsf);
    FrameFields f = QuantiseAndCheck(prev, cur);
    ASSERT_EQ(f.frameClass, kClassVoicedContinued);
    EXPECT_EQ(f.value[kFieldPitch], 7); // +4 held to +3
    EXPECT_EQ(cur.pitchIndex, 33);
    EXPECT_EQ(f.value[kFieldGain2], 3); // +1
    EXPECT_EQ(f.value[kFieldPattern], 7);
    FrameRecord down = VoicedAt(25, 18);
    std::copy(prev.quantisedLsf, prev.quantisedLsf + kOrder, down.lsf);
    f = QuantiseAndCheck(prev, down);
    ASSERT_EQ(f.frameClass, kClassVoicedContinued);
    EXPECT_EQ(f.value[kFieldPitch], 0); // -5 held to -4
    EXPECT_EQ(down.pitchIndex, 26);
    EXPECT_EQ(f.value[kFieldGain2], 0);
}

TEST(Quantiser, ASecondGainStepBeyondClassOnesFieldSendsTheFrameWhole) {
    const FrameRecord prev = Quantised(kClassVoiced, 30, 10);
    FrameRecord cur = VoicedAt(30, 16);
    std::copy(prev.quantisedLsf, prev.quantisedLsf + kOrder, cur.lsf);
    const FrameFields f = QuantiseAndCheck(prev, cur);
    EXPECT_EQ(f.frameClass, kClassVoiced);
    EXPECT_EQ(f.value[kFieldGain2], 16);
}

TEST(Quantiser, ClassThreeSendsItsGainStepAndAJumpBeyondItsFieldGoesWhole) {
    const FrameRecord prev = Quantised(kClassUnvoiced, 28, 5);
    FrameRecord cur = Record(true, false, 50.0f, Gain2FromIndex(12));
    std::copy(prev.quantisedLsf, prev.quantisedLsf + kOrder, cur.lsf);
    FrameFields f = QuantiseAndCheck(prev, cur);
    ASSERT_EQ(f.frameClass, kClassUnvoicedContinued);
    EXPECT_EQ(f.value[kFieldGain2], 15); // +7
    EXPECT_EQ(cur.gain2Index, 12);
    // A 20-step onset would be cut to +7 in class 3: class 2 sends it whole.
    FrameRecord onset = Record(true, false, 50.0f, Gain2FromIndex(25));
    std::copy(prev.quantisedLsf, prev.quantisedLsf + kOrder, onset.lsf);
    f = QuantiseAndCheck(prev, onset);
    ASSERT_EQ(f.frameClass, kClassUnvoiced);
    EXPECT_EQ(f.value[kFieldGain2], 25);
    EXPECT_EQ(onset.gain2Index, 25);
}

// A quantiser whose stage 1 holds `whole` at index 3 and whose difference
// stages hold `step` (stage 2, index 5), zero elsewhere.
struct TestCodebook {
    std::vector<float> stages[kLsfStages];
    LsfCodebook view{};
    TestCodebook(const float *whole, const float *step) {
        for (int s = 0; s < kLsfStages; ++s) {
            stages[s].assign(static_cast<std::size_t>(kLsfStageSizes[s] * kOrder), 0.0f);
            view.stage[s] = stages[s].data();
        }
        for (int i = 0; i < kLsfStageSizes[0]; ++i) InitialLsf(&stages[0][static_cast<std::size_t>(i * kOrder)]);
        std::copy(whole, whole + kOrder, &stages[0][3 * kOrder]);
        std::copy(step, step + kOrder, &stages[1][5 * kOrder]);
    }
};

TEST(Quantiser, DifferenceClassesFallBackOnlyWhenTheDifferenceIsMuchWorse) {
    float flat[kOrder];
    InitialLsf(flat);
    const float vowel[kOrder] = {0.25f, 0.42f, 0.9f, 1.2f, 1.6f, 1.95f, 2.25f, 2.5f, 2.75f, 2.95f};
    float step[kOrder];
    for (int k = 0; k < kOrder; ++k) step[k] = 0.02f;
    FrameRecord prev = Quantised(kClassVoiced, 30, 20); // its rebuilt vector is flat
    FrameRecord cur = VoicedAt(31, 20);
    // Target: the vowel.  Stage 1 has it exactly, the difference stages cannot reach it.
    std::copy(vowel, vowel + kOrder, cur.lsf);
    {
        TestCodebook book(vowel, step);
        QuantiserTrace trace;
        FrameFields f;
        FrameRecord c = cur;
        QuantiseFrame(book.view, prev, c, f, &trace);
        EXPECT_EQ(trace.candidateClass, kClassVoicedContinued);
        EXPECT_EQ(f.frameClass, kClassVoiced);
        EXPECT_EQ(f.value[kFieldLsf], 3);
        EXPECT_EQ(f.value[kFieldPitch], 31);
    }
    // Target: flat plus the step.  The difference hits it; stage 1 does not.
    float stepped[kOrder];
    for (int k = 0; k < kOrder; ++k) stepped[k] = flat[k] + step[k];
    std::copy(stepped, stepped + kOrder, cur.lsf);
    {
        TestCodebook book(vowel, step);
        QuantiserTrace trace;
        FrameFields f;
        FrameRecord c = cur;
        QuantiseFrame(book.view, prev, c, f, &trace);
        EXPECT_EQ(f.frameClass, kClassVoicedContinued);
        EXPECT_EQ(f.value[kFieldLsf + 1], 5);
        EXPECT_LT(trace.differenceError, 1e-9f);
        for (int k = 0; k < kOrder; ++k) EXPECT_NEAR(c.quantisedLsf[k], stepped[k], 1e-6f);
    }
    // The same for the unvoiced pair, whose difference starts at stage 3.
    FrameRecord uprev = Quantised(kClassUnvoiced, 28, 20);
    FrameRecord ucur = Record(true, false, 50.0f, Gain2FromIndex(20));
    std::copy(vowel, vowel + kOrder, ucur.lsf);
    TestCodebook book(vowel, step);
    FrameFields f;
    QuantiseFrame(book.view, uprev, ucur, f, nullptr);
    EXPECT_EQ(f.frameClass, kClassUnvoiced);
}

TEST(Quantiser, AnInactiveFrameRepeatsUntilItsSpectrumMoves) {
    FrameRecord quietPrev = Quantised(kClassRepeat, 28, 3);
    FrameRecord same = Record(false, false, 50.0f, Gain2FromIndex(3));
    std::copy(quietPrev.quantisedLsf, quietPrev.quantisedLsf + kOrder, same.lsf);
    FrameFields f = QuantiseAndCheck(quietPrev, same);
    EXPECT_EQ(f.frameClass, kClassRepeat);
    const float vowel[kOrder] = {0.25f, 0.42f, 0.9f, 1.2f, 1.6f, 1.95f, 2.25f, 2.5f, 2.75f, 2.95f};
    FrameRecord moved = Record(false, false, 50.0f, Gain2FromIndex(3));
    std::copy(vowel, vowel + kOrder, moved.lsf);
    f = QuantiseAndCheck(quietPrev, moved);
    EXPECT_EQ(f.frameClass, kClassLowLevel);
}

// The tuned encoder's repeat margin: a larger one repeats a moved spectrum too.
TEST(Quantiser, TheRepeatMarginDecidesHowFarASpectrumMayMoveBeforeItIsSent) {
    FrameRecord quietPrev = Quantised(kClassRepeat, 28, 3);
    const float vowel[kOrder] = {0.25f, 0.42f, 0.9f, 1.2f, 1.6f, 1.95f, 2.25f, 2.5f, 2.75f, 2.95f};
    FrameRecord moved = Record(false, false, 50.0f, Gain2FromIndex(3));
    std::copy(vowel, vowel + kOrder, moved.lsf);
    EncoderTuning lenient;
    lenient.class5Margin = 1e9f;
    FrameFields f;
    FrameRecord c = moved;
    QuantiseFrame(DefaultLsfCodebook(), quietPrev, c, f, nullptr, lenient);
    EXPECT_EQ(f.frameClass, kClassRepeat);
    c = moved;
    QuantiseFrame(DefaultLsfCodebook(), quietPrev, c, f, nullptr, EncoderTuning{});
    EXPECT_EQ(f.frameClass, kClassLowLevel);
}

// With finalists compared by envelope, the class stays the search's and the
// rebuilt envelope lies no farther from the target's than the search's own
// choice; one finalist is the described choice.
TEST(Quantiser, EnvelopeFinalistsKeepTheClassAndComeNoFartherFromTheEnvelope) {
    std::mt19937 rng(15);
    std::uniform_real_distribution<float> u(-0.08f, 0.08f);
    const float vowel[kOrder] = {0.25f, 0.42f, 0.9f, 1.2f, 1.6f, 1.95f, 2.25f, 2.5f, 2.75f, 2.95f};
    int moved = 0;
    for (int trial = 0; trial < 50; ++trial) {
        FrameRecord prev = Quantised(kClassUnvoiced, 30, 20);
        FrameRecord cur = Record(true, false, 50.0f, Gain2FromIndex(20));
        for (int k = 0; k < kOrder; ++k) cur.lsf[k] = vowel[k] + u(rng);
        OrderAndSpaceLsf(cur.lsf);
        EncoderTuning one;
        EncoderTuning many;
        many.lsfFinalists = 16;
        FrameRecord a = cur;
        FrameRecord b = cur;
        FrameFields fa, fb;
        QuantiseFrame(DefaultLsfCodebook(), prev, a, fa, nullptr, one);
        QuantiseFrame(DefaultLsfCodebook(), prev, b, fb, nullptr, many);
        FrameRecord d = cur;
        FrameFields fd;
        QuantiseFrame(DefaultLsfCodebook(), prev, d, fd, nullptr);
        for (int i = 0; i < kFieldCount; ++i) EXPECT_EQ(fa.value[i], fd.value[i]);
        EXPECT_EQ(fa.frameClass, fb.frameClass);
        EXPECT_LE(EnvelopeDistance(cur.lsf, b.quantisedLsf), EnvelopeDistance(cur.lsf, a.quantisedLsf) * 1.0001f);
        moved += std::memcmp(a.quantisedLsf, b.quantisedLsf, sizeof a.quantisedLsf) != 0;
    }
    EXPECT_GT(moved, 0);
    EXPECT_EQ(EnvelopeDistance(vowel, vowel), 0.0f);
}

TEST(Quantiser, VoicingPatternOneIsSentAsZero) {
    const FrameRecord prev = Quantised(kClassUnvoiced, 28, 20);
    FrameRecord cur = Record(true, false, 60.0f);
    cur.voicing[0] = 0.9f;
    cur.voicing[4] = 0.8f; // band 5 alone above band 1
    FrameFields f;
    QuantiseFrame(DefaultLsfCodebook(), prev, cur, f, nullptr);
    EXPECT_EQ(f.frameClass, kClassVoiced);
    EXPECT_EQ(f.value[kFieldPattern], 0);
    EXPECT_EQ(cur.voicing[4], 0.0f);
}

TEST(Quantiser, TheFirstGainIsTheMeanWhenItLiesNearItElseOneOfSevenLevels) {
    const FrameRecord prev = Quantised(kClassVoiced, 28, 10); // 31.6 dB
    FrameRecord near = Record(true, false, 50.0f, Gain2FromIndex(11));
    near.gain[0] = 0.5f * (Gain2FromIndex(10) + Gain2FromIndex(11)) + 2.5f;
    FrameFields f;
    QuantiseFrame(DefaultLsfCodebook(), prev, near, f, nullptr);
    EXPECT_EQ(near.gain1Index, 0);
    FrameRecord jump = Record(true, false, 50.0f, Gain2FromIndex(11));
    jump.gain[0] = 45.0f;
    QuantiseFrame(DefaultLsfCodebook(), prev, jump, f, nullptr);
    ASSERT_EQ(f.frameClass, kClassUnvoiced);
    EXPECT_GE(f.value[kFieldGain1], 1);
    const float decoded = Gain1FromIndex(f.value[kFieldGain1], Gain2FromIndex(11), Gain2FromIndex(10));
    float lo, hi;
    Gain1Range(Gain2FromIndex(11), Gain2FromIndex(10), lo, hi);
    EXPECT_LE(std::fabs(decoded - std::min(45.0f, hi)), (hi - lo) / 12.0f + 1e-4f);
}

TEST(Quantiser, TheNearestFirstGainIsTheNearestOfAllEightDecodedValues) {
    const FrameRecord prev = Quantised(kClassVoiced, 28, 10);
    const float g2 = Gain2FromIndex(11), gp = Gain2FromIndex(10);
    EncoderTuning tuning;
    tuning.nearestGain1 = true;
    int meanChosen = 0;
    for (float g1 = 12.0f; g1 < 60.0f; g1 += 0.37f) {
        FrameRecord cur = Record(true, false, 50.0f, g2);
        cur.gain[0] = g1;
        FrameFields f;
        QuantiseFrame(DefaultLsfCodebook(), prev, cur, f, nullptr, tuning);
        float best = 1e9f;
        for (int i = 0; i <= kGain1Levels; ++i) best = std::min(best, std::fabs(Gain1FromIndex(i, g2, gp) - g1));
        EXPECT_FLOAT_EQ(std::fabs(Gain1FromIndex(cur.gain1Index, g2, gp) - g1), best) << g1;
        EXPECT_EQ(f.value[kFieldGain1], cur.gain1Index);
        meanChosen += cur.gain1Index == 0 ? 1 : 0;
    }
    EXPECT_GT(meanChosen, 0) << "the mean is one of the values";
}

// A level contour exactly as the decoder draws it from gp (sample 0) through
// g1 (sample 90) to g2 (sample 180), at the tuned encoder's points.
void DecodableContour(float gp, float g1, float g2, float *contour) {
    for (int k = 0; k < kContourPoints; ++k) {
        const float b = 30.0f * static_cast<float>(k + 1);
        contour[k] = b <= 90.0f ? gp + (g1 - gp) * b / 90.0f : g1 + (g2 - g1) * (b - 90.0f) / 90.0f;
    }
}

TEST(Quantiser, TheLevelContourFindsTheGainsThatDrawItAndPrefersTheMeanByItsBonus) {
    const FrameRecord prev = Quantised(kClassVoiced, 28, 10); // an unvoiced frame after it is sent whole (class 2)
    const float gp = Gain2FromIndex(10), g2 = Gain2FromIndex(13);
    EncoderTuning tuning;
    tuning.gainContour = true;
    for (int level = 1; level <= kGain1Levels; ++level) {
        FrameRecord cur = Record(true, false, 50.0f, g2 + 1.0f); // the analysed gain off by 1 dB: the contour decides
        DecodableContour(gp, Gain1FromIndex(level, g2, gp), g2, cur.contour);
        FrameFields f;
        QuantiseFrame(DefaultLsfCodebook(), prev, cur, f, nullptr, tuning);
        EXPECT_EQ(cur.gain2Index, 13) << level;
        // Level 4 here is the mean itself, which index 0 also sends.
        EXPECT_FLOAT_EQ(Gain1FromIndex(cur.gain1Index, g2, gp), Gain1FromIndex(level, g2, gp)) << level;
        EXPECT_EQ(f.value[kFieldGain1], cur.gain1Index);
    }
    // Near the mean of the second gains the bonus sends the mean (index 0),
    // so a voiced frame can continue in class 1; without it, the nearer level.
    // Level 5 lies 3.1 dB above the mean; the contour passes 2.6 dB above it.
    const float g1 = Gain1FromIndex(5, g2, gp) - 0.5f;
    FrameRecord cur = Record(true, false, 50.0f, g2);
    DecodableContour(gp, g1, g2, cur.contour);
    FrameFields f;
    QuantiseFrame(DefaultLsfCodebook(), prev, cur, f, nullptr, tuning);
    EXPECT_EQ(cur.gain1Index, 5);
    tuning.contourMeanBonus = 16.0f;
    QuantiseFrame(DefaultLsfCodebook(), prev, cur, f, nullptr, tuning);
    EXPECT_EQ(cur.gain1Index, 0);
    EXPECT_LE(std::abs(cur.gain2Index - 13), 1) << "the second gain only among its neighbours";
}

TEST(Smoothing, LoneVoicedAndUnvoicedFramesFollowTheirNeighbours) {
    // A quiet voiced frame with little upper-band voicing between unvoiced ones.
    FrameRecord prev = Record(true, false), next = Record(true, false);
    FrameRecord cur = Record(true, true, 60.0f, 40.0f);
    cur.voicing[2] = cur.voicing[3] = cur.voicing[4] = 0.0f;
    SmoothRecords(prev, cur, next);
    EXPECT_FALSE(IsVoiced(cur));
    // Loud enough, it stays.
    FrameRecord loud = Record(true, true, 60.0f, 50.0f);
    SmoothRecords(prev, loud, next);
    EXPECT_TRUE(IsVoiced(loud));
    // An inactive gap in a voiced run becomes active, voiced, with the previous pitch.
    FrameRecord v1 = Record(true, true, 70.0f), v2 = Record(true, true, 72.0f);
    FrameRecord gap = Record(false, false, 50.0f);
    SmoothRecords(v1, gap, v2);
    EXPECT_TRUE(gap.active);
    EXPECT_TRUE(IsVoiced(gap));
    EXPECT_EQ(gap.pitch, 70.0f);
}

TEST(Smoothing, PitchOutliersInAVoicedRunTakeTheirNeighboursMean) {
    FrameRecord prev = Record(true, true, 80.0f), next = Record(true, true, 84.0f);
    FrameRecord cur = Record(true, true, 120.0f);
    SmoothRecords(prev, cur, next);
    EXPECT_FLOAT_EQ(cur.pitch, 82.0f);
    FrameRecord fine = Record(true, true, 86.0f);
    SmoothRecords(prev, fine, next);
    EXPECT_FLOAT_EQ(fine.pitch, 86.0f);
    // The next frame's strengths become 0 or 1; band 1 alone and quiet is unvoiced.
    FrameRecord weak = Record(true, false, 60.0f, 30.0f);
    weak.voicing[0] = 0.7f;
    weak.voicing[1] = 0.3f;
    FrameRecord c2 = Record(true, true, 60.0f);
    SmoothRecords(prev, c2, weak);
    EXPECT_EQ(weak.voicing[0], 0.0f);
    EXPECT_EQ(weak.voicing[1], 0.0f);
}

TEST(Smoothing, WithoutItsPitchRulesOnlyTheVoicingIsSmoothed) {
    FrameRecord prev = Record(true, true, 80.0f), next = Record(true, true, 84.0f);
    FrameRecord cur = Record(true, true, 120.0f);
    SmoothRecords(prev, cur, next, false);
    EXPECT_FLOAT_EQ(cur.pitch, 120.0f);
    FrameRecord weak = Record(true, false, 60.0f, 30.0f);
    weak.voicing[0] = 0.7f;
    SmoothRecords(prev, cur, weak, false);
    EXPECT_EQ(weak.voicing[0], 0.0f);
    // A gap in a voiced run is still bridged with the previous pitch.
    FrameRecord gap = Record(false, false, 50.0f);
    SmoothRecords(prev, gap, next, false);
    EXPECT_TRUE(IsVoiced(gap));
    EXPECT_EQ(gap.pitch, 80.0f);
}

// The histories after a few frames of a harmonic signal of period `period`.
std::unique_ptr<SignalHistory> HarmonicHistory(double period) {
    auto h = std::make_unique<SignalHistory>();
    std::memset(h.get(), 0, sizeof *h);
    InputFilters filters;
    InitInputFilters(filters);
    for (int frame = 0, n = 0; frame < 4; ++frame) {
        float x[kFrameLength];
        for (int i = 0; i < kFrameLength; ++i, ++n) {
            double v = 0.0;
            for (int k = 1; k * 8000.0 / period < 3800.0; ++k) v += std::cos(2.0 * std::numbers::pi * k * n / period);
            x[i] = static_cast<float>(800.0 * v);
        }
        PushFrame(filters, *h, x);
    }
    return h;
}

TEST(PitchCandidates, KeepTheDescribedPitchFindTheTrueOneAndDropNearDuplicates) {
    const auto h = HarmonicHistory(61.5);
    PitchCandidate c[kMaxPitchCandidates];
    const int count = PitchCandidates(*h, 100.0f, 0.0f, 4, c);
    ASSERT_GE(count, 2);
    ASSERT_LE(count, 4);
    EXPECT_FLOAT_EQ(c[0].pitch, 100.0f) << "the described pitch is always the first";
    bool found = false;
    for (int i = 0; i < count; ++i) {
        if (std::fabs(c[i].pitch - 61.5f) < 0.3f) {
            found = true;
            EXPECT_GT(c[i].strength, 0.95f);
            EXPECT_GT(c[i].strength, c[0].strength);
            for (int b = 1; b < kBands; ++b) EXPECT_GT(c[i].voicing[b], 0.6f) << b;
        }
        for (int j = 0; j < i; ++j) EXPECT_GE(std::fabs(c[i].pitch - c[j].pitch), 0.03f * c[i].pitch - 1e-4f);
    }
    EXPECT_TRUE(found);
    // One candidate: the described pitch alone; near the true one it takes the refined peak.
    EXPECT_EQ(PitchCandidates(*h, 100.0f, 0.0f, 1, c), 1);
    EXPECT_FLOAT_EQ(c[0].pitch, 100.0f);
    ASSERT_GE(PitchCandidates(*h, 62.0f, 0.0f, 4, c), 1);
    EXPECT_NEAR(c[0].pitch, 61.5f, 0.3f);
}

// The encoder over a signal, with the class of every coded frame.
std::vector<int> EncodeClasses(const std::vector<float> &signal, std::vector<bool> *active = nullptr) {
    auto enc = std::make_unique<EncoderState>();
    InitEncoder(*enc);
    std::vector<int> classes;
    uint8_t out[kMaxCodedBytes];
    for (std::size_t at = 0; at + kFrameLength <= signal.size(); at += kFrameLength) {
        EncodeFrame(*enc, &signal[at], out);
        classes.push_back(enc->previous.frameClass);
        if (active) active->push_back(enc->previous.active);
    }
    FlushEncoder(*enc, out);
    classes.push_back(enc->previous.frameClass);
    return classes;
}

TEST(Encoder, SilenceFromTheStartGivesTwoBitFrames) {
    const std::vector<int> classes = EncodeClasses(std::vector<float>(kFrameLength * 50, 0.0f));
    ASSERT_EQ(classes.size(), 51u);
    for (int c : classes) EXPECT_EQ(c, kClassRepeat);
}

// Speech-like: 200 ms syllables alternating between two vowels, each with a
// rising pitch and a rise and fall of level, over a little noise.
std::vector<float> Syllables(int frames) {
    std::vector<float> x(static_cast<std::size_t>(kFrameLength * frames));
    double phase = 0.0;
    double a1 = 0, a2 = 0, b1 = 0, b2 = 0;
    std::mt19937 rng(4);
    std::normal_distribution<double> noise(0.0, 30.0);
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        const int syllable = static_cast<int>(t / 0.2);
        const double within = t / 0.2 - syllable;
        const bool open = syllable % 2 == 0;
        phase += (100.0 + 40.0 * within) / 8000.0;
        double in = noise(rng);
        if (phase >= 1.0) {
            phase -= 1.0;
            in += 6000.0 * (0.4 + 0.6 * std::sin(std::numbers::pi * within));
        }
        auto resonance = [](double f, double bw, double x0, double &y1, double &y2) {
            const double r = std::exp(-std::numbers::pi * bw / 8000.0);
            const double y = x0 + 2 * r * std::cos(2 * std::numbers::pi * f / 8000.0) * y1 - r * r * y2;
            y2 = y1;
            y1 = y;
            return y;
        };
        const double f1 = resonance(open ? 700 : 300, 80, in, a1, a2);
        const double f2 = resonance(open ? 1200 : 2300, 120, f1, b1, b2);
        x[n] = static_cast<float>(std::clamp(0.05 * f2, -30000.0, 30000.0));
    }
    return x;
}

TEST(Encoder, SpeechThatStopsIsCodedActiveForTwoMoreFrames) {
    const int speechFrames = 90;
    std::vector<float> x = Syllables(150);
    std::fill(x.begin() + kFrameLength * speechFrames, x.end(), 0.0f);
    std::vector<bool> active;
    const std::vector<int> classes = EncodeClasses(x, &active);
    // The last frame whose analysis window reaches into the speech.
    std::size_t lastSpeech = 0;
    for (std::size_t i = 0; i < active.size(); ++i) {
        if (classes[i] <= kClassUnvoicedContinued) lastSpeech = i;
    }
    // The frames coded after the speech are all inactive, the first as class 4,
    // and nearly all the others repeat (the input filter's fading ring moves
    // the spectrum now and then).
    ASSERT_LT(lastSpeech + 2, classes.size());
    EXPECT_EQ(classes[lastSpeech + 1], kClassLowLevel);
    int repeats = 0;
    for (std::size_t i = lastSpeech + 2; i < classes.size(); ++i) {
        EXPECT_GE(classes[i], kClassLowLevel) << i;
        repeats += classes[i] == kClassRepeat;
    }
    EXPECT_GT(repeats, static_cast<int>(classes.size() - lastSpeech) * 3 / 4);
    // Coded frame k is analysed around input sample 180 (k - 1) + 60; the
    // window of 200 leaves the speech at k = 91, so frames 92 and 93 are the
    // two frames of hang-over (the detector calls silence inactive at once).
    EXPECT_EQ(lastSpeech, static_cast<std::size_t>(speechFrames + 3));
    int voiced = 0;
    for (int c : classes) voiced += c <= kClassVoicedContinued;
    EXPECT_GT(voiced, 60);
}

} // namespace
} // namespace vntr::vt15
