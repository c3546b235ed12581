// The decoder's post-filter and output conversion.
#include "postfilter.hpp"
#include "tables.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt4864v6 {
namespace {

TEST(OutputSample, ClipsAtTheEdgesAndTruncatesTowardZero) {
    EXPECT_EQ(OutputSample(40000.0f), 32767);
    EXPECT_EQ(OutputSample(32767.9f), 32767);
    EXPECT_EQ(OutputSample(-32767.5f), -32768);
    EXPECT_EQ(OutputSample(-40000.0f), -32768);
    EXPECT_EQ(OutputSample(-32767.0f), -32767);
    EXPECT_EQ(OutputSample(2.9f), 2);
    EXPECT_EQ(OutputSample(-2.9f), -2);
    EXPECT_EQ(OutputSample(std::nanf("")), 0);
    EXPECT_EQ(OutputSample(INFINITY), 32767);
    EXPECT_EQ(OutputSample(-INFINITY), -32768);
}

TEST(InterpolationTables, FixedRowsToTheirDecimals) {
    const float four1[4] = {-0.005772f, 0.087669f, 0.965882f, -0.048753f};
    const float four4[4] = {-0.045567f, 0.550847f, 0.550847f, -0.045567f};
    for (int j = 0; j < 4; ++j) {
        EXPECT_NEAR(kInterp4[0][j], four1[j], 5e-7f);
        EXPECT_NEAR(kInterp4[3][j], four4[j], 5e-7f);
        EXPECT_FLOAT_EQ(kInterp4[6][j], kInterp4[0][3 - j]);
    }
    const float sixteen1[16] = {-0.001246f, 0.0022f,   -0.004791f, 0.009621f,  -0.017685f, 0.031212f,
                                -0.057225f, 0.13547f,  0.973955f,  -0.103495f, 0.048663f,  -0.02709f,
                                0.01528f,   -0.00816f, 0.003961f,  -0.001827f};
    for (int j = 0; j < 16; ++j) {
        EXPECT_NEAR(kInterp16[0][j], sixteen1[j], 5e-6f) << j;
        EXPECT_FLOAT_EQ(kInterp16[6][j], kInterp16[0][15 - j]);
    }
}

struct Frame {
    float speech[kFrameLength] = {};
    int lags[kMaxSubframes] = {40, 40, 40, 40};
    float lpc[kMaxSubframes][kOrder] = {};
    float out[kFrameLength] = {};
};

TEST(PostFilter, SilenceStaysSilentAndTheGainDecays) {
    PostFilterState state;
    ResetPostFilter(state);
    Frame f;
    PostFilter(state, f.speech, f.lags, f.lpc, kRate6400, f.out);
    for (float x : f.out) EXPECT_EQ(x, 0.0f);
    EXPECT_NEAR(state.gain, std::pow(0.9875, 240.0), 1e-6);
}

TEST(PostFilter, SteadyToneKeepsItsLevelThroughTheGainControl) {
    PostFilterState state;
    ResetPostFilter(state);
    Frame f;
    // A mild resonance near the tone keeps the formant filter busy.
    f.lpc[0][0] = -0.9f;
    f.lpc[0][1] = 0.5f;
    for (int k = 1; k < 4; ++k) {
        for (int i = 0; i < kOrder; ++i) f.lpc[k][i] = f.lpc[0][i];
    }
    double inSum = 0.0, outSum = 0.0;
    for (int frame = 0; frame < 20; ++frame) {
        for (int n = 0; n < kFrameLength; ++n) {
            f.speech[n] = 3000.0f * std::sin(2.0f * std::numbers::pi_v<float> * (frame * kFrameLength + n) / 40.0f);
        }
        PostFilter(state, f.speech, f.lags, f.lpc, kRate6400, f.out);
        if (frame >= 5) {
            for (int n = 0; n < kFrameLength; ++n) {
                inSum += std::fabs(f.speech[n]);
                outSum += std::fabs(f.out[n]);
            }
        }
    }
    EXPECT_NEAR(outSum / inSum, 1.0, 0.05);
}

std::vector<float> WithHistory(int length) {
    return std::vector<float>(static_cast<std::size_t>(kPostResidualHistory + length), 0.0f);
}

TEST(PitchPostFilter, QuietResidualPassesUnchanged) {
    auto r = WithHistory(60);
    float *cur = r.data() + kPostResidualHistory;
    for (int n = -kPostResidualHistory; n < 60; ++n) cur[n] = n % 2 ? 0.01f : -0.01f; // E < 0.1
    float out[60];
    PitchPostFilter(cur, 40, 60, out);
    for (int n = 0; n < 60; ++n) EXPECT_EQ(out[n], cur[n]);
}

TEST(PitchPostFilter, NoiseIsLeftAloneAndAPeriodicResidualIsReinforced) {
    std::mt19937 rng(3);
    std::normal_distribution<float> g(0.0f, 100.0f);
    auto r = WithHistory(60);
    float *cur = r.data() + kPostResidualHistory;
    for (int n = -kPostResidualHistory; n < 60; ++n) cur[n] = g(rng);
    float out[60];
    PitchPostFilter(cur, 50, 60, out);
    for (int n = 0; n < 60; ++n) EXPECT_EQ(out[n], cur[n]);

    // A pulse train of period 50 with noise: the output moves towards the delayed signal.
    for (int n = -kPostResidualHistory; n < 60; ++n) cur[n] = ((n + 200) % 50 == 0 ? 1000.0f : 0.0f) + g(rng) * 0.1f;
    PitchPostFilter(cur, 50, 60, out);
    double change = 0.0;
    for (int n = 0; n < 60; ++n) change += std::fabs(out[n] - cur[n]);
    EXPECT_GT(change, 1.0);
    // The pulse keeps (nearly) its height: r/(1+g/2) + delayed g/2/(1+g/2) with delayed = pulse.
    EXPECT_NEAR(out[50 - (200 % 50)], 1000.0f, 30.0f);
}

TEST(PitchPostFilter, FractionalPeriodChoosesAnInterpolatedDelay) {
    // A sine of period 40.5 correlates better at 40.5 than at 40 or 41.
    auto r = WithHistory(60);
    float *cur = r.data() + kPostResidualHistory;
    for (int n = -kPostResidualHistory; n < 60; ++n)
        cur[n] = 1000.0f * std::sin(2.0f * std::numbers::pi_v<float> * n / 40.5f);
    float out[60];
    PitchPostFilter(cur, 40, 60, out);
    // With an exact delay the mix reproduces the input; an integer delay would leave an error.
    double err = 0.0;
    for (int n = 0; n < 60; ++n) err += (out[n] - cur[n]) * (out[n] - cur[n]);
    double errInteger = 0.0;
    for (int n = 0; n < 60; ++n) {
        const float mixed = cur[n] * (2.0f / 3.0f) + cur[n - 40] / 3.0f;
        errInteger += (mixed - cur[n]) * (mixed - cur[n]);
    }
    EXPECT_LT(err, 0.1 * errInteger);
}

} // namespace
} // namespace vntr::vt4864v6
