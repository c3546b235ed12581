// The encoder's analysis: input filter, quiet flag, open-loop pitch, the
// analysis window, the Schur recursion and the LSFs it ends in.
#include "analysis.hpp"

#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/schur.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt48 {
namespace {

TEST(HighPass, SettlesAtItsOffsetForSilence) {
    HighPassState state{};
    std::vector<float> x(4000, 0.0f);
    HighPass(state, x.data(), 2000);
    HighPass(state, x.data() + 2000, 2000); // the memories carry across calls
    EXPECT_NEAR(x.back(), 0.001f / 0.06f, 1e-5f);
    EXPECT_NEAR(x[0], 0.001f, 1e-9f);
}

TEST(HighPass, RemovesAConstantAndHalvesFastChanges) {
    HighPassState state{};
    std::vector<float> dc(2000, 10000.0f);
    HighPass(state, dc.data(), 2000);
    EXPECT_NEAR(dc[0], 5000.0f + 0.001f, 1e-2f); // the first step passes at half size
    EXPECT_NEAR(dc.back(), 0.0167f, 1e-3f);
    HighPassState s2{};
    std::vector<float> nyquist(2000);
    for (int n = 0; n < 2000; ++n) nyquist[static_cast<std::size_t>(n)] = n % 2 ? -1000.0f : 1000.0f;
    HighPass(s2, nyquist.data(), 2000);
    EXPECT_NEAR(std::fabs(nyquist.back()), 1000.0f / 1.94f, 1.0f); // gain 1/(1 + 0.94) at 4 kHz
}

TEST(QuietFlag, ComparesTheMeanMagnitudeWith69) {
    std::vector<float> speech(kSpeechBuffer, 0.0f);
    for (int n = 0; n < 220; ++n) speech[static_cast<std::size_t>(n)] = n % 2 ? 68.9f : -68.9f;
    EXPECT_TRUE(IsQuiet(speech.data()));
    for (int n = 0; n < 220; ++n) speech[static_cast<std::size_t>(n)] = n % 2 ? 69.0f : -69.0f;
    EXPECT_FALSE(IsQuiet(speech.data()));
    // Positions beyond 219 do not count.
    for (int n = 0; n < 220; ++n) speech[static_cast<std::size_t>(n)] = 0.0f;
    for (int n = 220; n < kSpeechBuffer; ++n) speech[static_cast<std::size_t>(n)] = 30000.0f;
    EXPECT_TRUE(IsQuiet(speech.data()));
}

TEST(AnalysisWindow, HasHammingEdgesAFlatMiddleAndSymmetry) {
    float w[kWindowLength];
    FillAnalysisWindow(w);
    EXPECT_NEAR(w[0], 0.08f, 1e-6f);
    EXPECT_NEAR(w[45], 1.0f, 1e-6f);
    EXPECT_NEAR(w[22], 0.54f - 0.46f * std::cos(std::numbers::pi_v<float> * 22 / 45), 1e-6f);
    for (int n = 45; n <= 174; ++n) EXPECT_EQ(w[n], 1.0f) << n;
    for (int n = 0; n < kWindowLength; ++n) EXPECT_EQ(w[n], w[kWindowLength - 1 - n]) << n;
}

// Pulses every `period` samples through a resonance, as voiced speech looks.
std::vector<float> Voiced(int period, int length, float amplitude = 8000.0f) {
    std::vector<float> x(static_cast<std::size_t>(length));
    float y1 = 0, y2 = 0;
    for (int n = 0; n < length; ++n) {
        const float in = n % period == 0 ? amplitude : 0.0f;
        const float y = in + 1.5f * y1 - 0.8f * y2;
        y2 = y1;
        y1 = y;
        x[static_cast<std::size_t>(n)] = y;
    }
    return x;
}

TEST(OpenLoopPitch, FindsThePeriodOfVoicedSpeech) {
    for (int period : {24, 37, 57, 80, 110, 140}) {
        const auto x = Voiced(period, 380);
        const int lag = OpenLoopPitch(x.data(), x.data() + 160, period, period);
        EXPECT_NEAR(lag, period, 1) << period;
    }
}

TEST(OpenLoopPitch, TiesKeepTheLongerLagAndTheFirstRefinement) {
    // With nothing to correlate every score ties: E = 55 and F = 147 (the largest
    // lags), refined to their first candidates 53 and 145; F' wins the tie with E',
    // and M' = 73 - 2 = 71 beats no score of 0.
    const std::vector<float> zero(380, 0.0f);
    OpenLoopTrace trace;
    EXPECT_EQ(OpenLoopPitch(zero.data(), zero.data() + 160, 69, 69, &trace), 145);
    EXPECT_EQ(trace.e, 55);
    EXPECT_EQ(trace.f, 147);
    EXPECT_EQ(trace.m, 73);
    EXPECT_EQ(trace.mRefined, 71);
}

TEST(OpenLoopPitch, PrefersAThirdOfTheLongLagNearThePreviousOne) {
    // A period of 40 correlates at 80 and 120 as well; near a previous lag of
    // 40 the candidate M is F/3 or F/2, and the choice stays at the period.
    const auto x = Voiced(40, 380);
    OpenLoopTrace trace;
    const int lag = OpenLoopPitch(x.data(), x.data() + 160, 40, 41, &trace);
    EXPECT_NEAR(lag, 40, 1);
    EXPECT_TRUE(trace.f % 40 <= 1 || trace.f % 40 >= 39) << trace.f;
}

TEST(OpenLoopPitch, CarriedLowPassGivesTheSameTracesAsTheRawPreviousFrame) {
    // Frames of voiced speech whose period drifts, with noise, coded one after
    // the other: the low-passed previous frame handed on from each call stands
    // for the raw one to the last bit, so every candidate and score is the same.
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 300.0f);
    std::vector<float> signal;
    for (int period : {30, 31, 33, 36, 40, 45, 51, 58, 66, 75, 85, 96, 110, 125, 140}) {
        const auto voiced = Voiced(period, 160);
        for (float v : voiced) signal.push_back(v + noise(rng));
    }
    for (int n = 0; n < 220; ++n) signal.push_back(noise(rng) * 10.0f);
    std::vector<float> carried(160, 0.0f), next(160, -1.0f), zero(160, 0.0f);
    int previousLag = 69, lagBefore = 69;
    for (std::size_t at = 0; at + 380 <= signal.size() + 160; at += 160) {
        const float *previous = at == 0 ? zero.data() : signal.data() + at - 160;
        const float *current = signal.data() + at;
        OpenLoopTrace raw{}, low{};
        const int lag = OpenLoopPitch(previous, current, previousLag, lagBefore, &raw);
        EXPECT_EQ(OpenLoopPitchLowPassed(carried.data(), current, previousLag, lagBefore, next.data(), &low), lag)
            << at;
        EXPECT_EQ(std::memcmp(&raw, &low, sizeof raw), 0) << at;
        std::vector<float> expected(160);
        PitchLowPass(current, expected.data());
        ASSERT_EQ(std::memcmp(next.data(), expected.data(), sizeof(float) * 160), 0) << at;
        carried = next;
        lagBefore = previousLag;
        previousLag = lag;
    }
}

TEST(Schur, GivesTheReflectionCoefficientsOfLevinson) {
    std::mt19937 rng(3);
    std::normal_distribution<float> g(0.0f, 1.0f);
    dsp::SchurWorkspace work;
    for (int trial = 0; trial < 50; ++trial) {
        std::vector<float> x(220);
        float y1 = 0, y2 = 0;
        for (auto &v : x) {
            v = g(rng) + 1.2f * y1 - 0.7f * y2;
            y2 = y1;
            y1 = v;
        }
        float r[kOrder + 1];
        dsp::Autocorrelation(x.data(), 220, kOrder, r);
        r[0] *= 1.001f;
        float k[kOrder];
        const float error = dsp::Schur(r, kOrder, k, work);
        float a[kOrder];
        dsp::ReflectionToPredictor(k, kOrder, a);
        float reference[kOrder];
        const float referenceError = dsp::Levinson(r, kOrder, reference);
        for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(a[i], reference[i], 2e-4f) << i;
        EXPECT_NEAR(error / r[0], referenceError / r[0], 1e-4f);
        for (float ki : k) EXPECT_LT(std::fabs(ki), 1.0f);
    }
}

TEST(Schur, StopsWhereThePredictionErrorRunsOut) {
    dsp::SchurWorkspace work;
    float k[kOrder];
    const float silent[kOrder + 1] = {};
    EXPECT_EQ(dsp::Schur(silent, kOrder, k, work), 0.0f);
    for (float ki : k) EXPECT_EQ(ki, 0.0f);
    // A constant is perfectly predicted by its first coefficient (k1 = -1), a
    // step that leaves no error: it and everything after it are refused.
    float constant[kOrder + 1];
    for (float &v : constant) v = 4.0f;
    EXPECT_EQ(dsp::Schur(constant, kOrder, k, work), 4.0f);
    for (float ki : k) EXPECT_EQ(ki, 0.0f);
}

TEST(Envelope, LsfsOfTheWindowedSpeechAreIncreasingAndRebuildThePredictor) {
    const auto x = Voiced(53, kSpeechBuffer, 3000.0f);
    float window[kWindowLength];
    FillAnalysisWindow(window);
    dsp::SchurWorkspace work;
    float a[kOrder];
    const Lsf lsf = AnalyseEnvelope(x.data(), window, work, a);
    for (int i = 0; i + 1 < kOrder; ++i)
        EXPECT_LT(lsf[static_cast<std::size_t>(i)], lsf[static_cast<std::size_t>(i + 1)]);
    EXPECT_GT(lsf[0], 0.0f);
    EXPECT_LT(lsf[9], std::numbers::pi_v<float>);
    float back[kOrder];
    dsp::LspToLpc(lsf.data(), kOrder, back);
    for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(back[i], a[i], 1e-3f) << i;
    // The resonance at about 0.577 rad (1.5 y1 - 0.8 y2) lies in the narrowest gap of the set.
    int narrowest = 0;
    for (int i = 1; i + 1 < kOrder; ++i) {
        if (lsf[static_cast<std::size_t>(i + 1)] - lsf[static_cast<std::size_t>(i)] <
            lsf[static_cast<std::size_t>(narrowest + 1)] - lsf[static_cast<std::size_t>(narrowest)])
            narrowest = i;
    }
    EXPECT_LT(lsf[static_cast<std::size_t>(narrowest)], 0.577f);
    EXPECT_GT(lsf[static_cast<std::size_t>(narrowest + 1)], 0.577f);
}

} // namespace
} // namespace vntr::vt48
