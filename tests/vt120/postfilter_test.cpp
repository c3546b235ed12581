// The decoder's post-filter with VT120's settings, and its tables.
#include "decoder.hpp"
#include "tables.hpp"

#include <vntr/dsp/postfilter.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt120 {
namespace {

TEST(InterpolationTables, MatchTheFormatsRoundedRowsAndMirror) {
    const float row4[16] = {-0.00377f, 0.00771f,  -0.01646f, 0.03185f,  -0.05727f, 0.10129f,  -0.19576f, 0.63099f,
                            0.63099f,  -0.19576f, 0.10129f,  -0.05727f, 0.03185f,  -0.01646f, 0.00771f,  -0.00377f};
    for (int j = 0; j < 16; ++j) EXPECT_NEAR(kInterp16[3][j], row4[j], 5e-6f) << j;
    for (int p = 1; p <= 7; ++p) {
        for (int j = 0; j < 16; ++j) EXPECT_FLOAT_EQ(kInterp16[p - 1][j], kInterp16[7 - p][15 - j]);
        for (int j = 0; j < 4; ++j) EXPECT_FLOAT_EQ(kInterp4[p - 1][j], kInterp4[7 - p][3 - j]);
    }
    EXPECT_FLOAT_EQ(kInterp4[1][1], 0.21489f);
    // Each row's centre of gravity sits at its delay: row p delays p/8 more than row p - 1.
    for (int p = 2; p <= 7; ++p) {
        double m1 = 0, s1 = 0, m0 = 0, s0 = 0;
        for (int j = 0; j < 16; ++j) {
            m1 += j * kInterp16[p - 1][j];
            s1 += kInterp16[p - 1][j];
            m0 += j * kInterp16[p - 2][j];
            s0 += kInterp16[p - 2][j];
        }
        EXPECT_LT(m1 / s1, m0 / s0);
    }
}

TEST(PostFilter, SilenceStaysSilentAndTheGainDecays) {
    dsp::PostFilterState state;
    dsp::ResetPostFilter(state);
    const float silent[kSubframeLength] = {};
    float lpc[kOrder] = {-0.9f, 0.2f};
    float out[kSubframeLength];
    dsp::PostFilterSubframe(state, silent, 40, lpc, kSubframeLength, kPostFilterConfig, out);
    for (float y : out) EXPECT_EQ(y, 0.0f);
    EXPECT_NEAR(state.gain, std::pow(0.9875, 32), 1e-6);
    dsp::PostFilterSubframe(state, silent, 40, lpc, kSubframeLength, kPostFilterConfig, out);
    EXPECT_NEAR(state.gain, std::pow(0.9875, 64), 1e-6);
}

TEST(PostFilter, GainControlRestoresTheLevelOfASteadySignal) {
    dsp::PostFilterState state;
    dsp::ResetPostFilter(state);
    const float lpc[kOrder] = {-1.2f, 0.6f};
    double in = 0, outSum = 0;
    for (int k = 0; k < 60; ++k) {
        float s[kSubframeLength], out[kSubframeLength];
        for (int n = 0; n < kSubframeLength; ++n) s[n] = 3000.0f * std::sin(0.3f * static_cast<float>(k * 32 + n));
        dsp::PostFilterSubframe(state, s, 40, lpc, kSubframeLength, kPostFilterConfig, out);
        if (k < 30) continue;
        for (int n = 0; n < kSubframeLength; ++n) {
            in += std::fabs(s[n]);
            outSum += std::fabs(out[n]);
        }
    }
    EXPECT_NEAR(outSum / in, 1.0, 0.05);
}

std::vector<float> WithHistory() {
    return std::vector<float>(dsp::kPostResidualHistory + kSubframeLength, 0.0f);
}

TEST(PitchPostFilter, QuietResidualIsLeftAlone) {
    auto r = WithHistory();
    float *cur = r.data() + dsp::kPostResidualHistory;
    for (int n = -dsp::kPostResidualHistory; n < kSubframeLength; ++n) cur[n] = n % 2 ? 0.05f : -0.05f; // E0 = 0.08
    float out[kSubframeLength];
    dsp::PitchPostFilter(cur, 40, kSubframeLength, kPostFilterConfig, out);
    for (int n = 0; n < kSubframeLength; ++n) EXPECT_EQ(out[n], cur[n]);
}

TEST(PitchPostFilter, PeriodicResidualIsReinforcedAndNoiseIsNot) {
    std::mt19937 rng(4);
    std::normal_distribution<float> g(0.0f, 100.0f);
    auto r = WithHistory();
    float *cur = r.data() + dsp::kPostResidualHistory;
    for (int n = -dsp::kPostResidualHistory; n < kSubframeLength; ++n) cur[n] = g(rng);
    float out[kSubframeLength];
    dsp::PitchPostFilter(cur, 50, kSubframeLength, kPostFilterConfig, out);
    for (int n = 0; n < kSubframeLength; ++n) EXPECT_EQ(out[n], cur[n]);

    // A period of 50.5 samples: the fractional delays find it, and the mix
    // moves the sub-frame towards the delayed copy.
    for (int n = -dsp::kPostResidualHistory; n < kSubframeLength; ++n) {
        cur[n] = 1000.0f * std::sin(2.0f * std::numbers::pi_v<float> * static_cast<float>(n) / 50.5f) +
                 1000.0f * std::sin(4.0f * std::numbers::pi_v<float> * static_cast<float>(n) / 50.5f + 1.0f);
    }
    dsp::PitchPostFilter(cur, 50, kSubframeLength, kPostFilterConfig, out);
    double changed = 0;
    for (int n = 0; n < kSubframeLength; ++n) changed += std::fabs(out[n] - cur[n]);
    EXPECT_GT(changed, 0.0);
    EXPECT_LT(changed / kSubframeLength, 50.0); // a periodic signal barely changes
}

// Lag 145 searches up to 146; its fractional candidates use delays up to
// 147 - 1/8, whose 16-tap rebuild reaches 154 samples back.  Lag 146 (from a
// frame the encoder never writes) reaches 155.  Poisoning everything older
// shows nothing beyond is read; changing the oldest sample in reach shows
// it is read.
TEST(PitchPostFilter, LongestLagsReachTheOldestResidualAndNoFurther) {
    std::mt19937 rng(9);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (int lag : {145, 146}) {
        const int reach = lag + 9;
        int changedTrials = 0;
        for (int trial = 0; trial < 200; ++trial) {
            std::vector<float> r(static_cast<std::size_t>(reach + 8 + kSubframeLength));
            float *cur = r.data() + reach + 8;
            const float period = static_cast<float>(lag) + 1.0f + 0.1f * static_cast<float>(trial % 10);
            // Rich in harmonics, where the 16-tap rebuild beats the 4-tap one.
            for (int n = -reach; n < kSubframeLength; ++n) {
                float x = 10.0f * g(rng);
                for (int m = 1; m <= 12; ++m) {
                    x += 300.0f * std::cos(2.0f * std::numbers::pi_v<float> * static_cast<float>(m * n) / period);
                }
                cur[n] = x;
            }
            for (int n = -reach - 8; n < -reach; ++n) cur[n] = std::numeric_limits<float>::quiet_NaN();
            float out[kSubframeLength], moved[kSubframeLength];
            dsp::PitchPostFilter(cur, lag, kSubframeLength, kPostFilterConfig, out);
            for (float y : out) ASSERT_TRUE(std::isfinite(y));
            cur[-reach] += 5000.0f;
            dsp::PitchPostFilter(cur, lag, kSubframeLength, kPostFilterConfig, moved);
            for (int n = 0; n < kSubframeLength; ++n) {
                if (moved[n] != out[n]) {
                    ++changedTrials;
                    break;
                }
            }
        }
        EXPECT_GT(changedTrials, 0) << lag;
        EXPECT_LE(reach, dsp::kPostResidualHistory);
    }
}

} // namespace
} // namespace vntr::vt120
