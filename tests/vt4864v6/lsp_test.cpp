// LPC analysis, LSP weights, quantisation, rebuilding, stabilisation and
// interpolation of the dual-rate vocoder.
#include "lsp_quant.hpp"
#include "tables.hpp"

#include <vntr/dsp/lsp.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt4864v6 {
namespace {

TEST(LpcAnalysis, SilenceGivesAFlatModelAndEquallySpacedLsps) {
    const float speech[kSpeechBuffer] = {};
    for (int start : {0, 20, 100, 180}) {
        float a[kOrder];
        EXPECT_EQ(AnalyseLpc(speech, start, a), 0.0f);
        for (float c : a) EXPECT_EQ(c, 0.0f);
        Lsp lsp;
        dsp::LpcToLsp(a, kOrder, lsp.data());
        for (int k = 0; k < kOrder; ++k) EXPECT_NEAR(lsp[k], (k + 1) * std::numbers::pi / 11.0, 1e-4);
    }
}

TEST(LpcAnalysis, WindowReadsOnlyItsOwn180Samples) {
    // A loud burst outside the window must not change the model.
    float speech[kSpeechBuffer];
    std::mt19937 rng(1);
    std::normal_distribution<float> g(0.0f, 1000.0f);
    for (float &x : speech) x = g(rng);
    float a[kOrder];
    const float err = AnalyseLpc(speech, 100, a);
    for (int n = 0; n < 100; ++n) speech[n] = 30000.0f;
    for (int n = 280; n < kSpeechBuffer; ++n) speech[n] = -30000.0f;
    float b[kOrder];
    EXPECT_EQ(AnalyseLpc(speech, 100, b), err);
    for (int i = 0; i < kOrder; ++i) EXPECT_EQ(a[i], b[i]);
}

TEST(LpcAnalysis, HammingTableIsTheRoundedWindow) {
    for (int n = 0; n < 90; ++n) {
        const double w = 0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * n / 179.0);
        EXPECT_NEAR(kHammingHalf[n], std::round(w * 1e4) / 1e4, 1e-7) << n;
    }
    EXPECT_FLOAT_EQ(kHammingHalf[0], 0.08f);
    EXPECT_FLOAT_EQ(kHammingHalf[1], 0.0803f);
    EXPECT_FLOAT_EQ(kHammingHalf[89], 0.9999f);
}

TEST(LspWeights, FiniteAndPositiveWithTheTopTwoLowered) {
    Lsp lsp = InitialLsp();
    const Lsp w = LspWeights(lsp);
    for (float x : w) {
        EXPECT_TRUE(std::isfinite(x));
        EXPECT_GT(x, 0.0f);
    }
    // Equal spacing: the envelope is flat, so only the fixed factors differ.
    EXPECT_NEAR(w[8] / w[7], 0.64f, 0.1f);
    EXPECT_NEAR(w[9] / w[7], 0.16f, 0.03f);
    // Two LSPs of opposite polynomials on one frequency: still finite.
    lsp[3] = lsp[4];
    for (float x : LspWeights(lsp)) EXPECT_TRUE(std::isfinite(x));
}

TEST(LspWeights, CloseLspPairGetsMoreWeight) {
    Lsp lsp = InitialLsp();
    const Lsp flat = LspWeights(lsp);
    lsp[4] = lsp[3] + 0.03f; // a sharp formant between LSPs 4 and 5
    const Lsp peaked = LspWeights(lsp);
    EXPECT_GT(peaked[3], 1.5f * flat[3]);
    EXPECT_GT(peaked[4], 1.5f * flat[4]);
}

TEST(LspCodebook, PublishedFirstVectorsSitAtIndexZero) {
    const float first[10] = {0.104308f, 0.049739f, -0.064519f, -0.069825f, -0.061812f,
                             0.203854f, -0.026463f, 0.157317f, 0.063104f, -0.218951f};
    for (int s = 0; s < kLspSplits; ++s) {
        for (int i = kLspSplitStart[s]; i < kLspSplitStart[s + 1]; ++i) {
            EXPECT_FLOAT_EQ(kLspCodebook[LspCodebookOffset(s) + i - kLspSplitStart[s]], first[i]);
        }
    }
}

TEST(LspQuantiser, AVectorOnTheCodebookQuantisesToItself) {
    std::mt19937 rng(11);
    Lsp previous = InitialLsp();
    for (int trial = 0; trial < 200; ++trial) {
        const LspIndices idx{static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), static_cast<int>(rng() % 256)};
        const Lsp lsp = RebuildLsp(idx, previous);
        Lsp w;
        for (float &x : w) x = 0.5f + static_cast<float>(rng() % 100) / 50.0f;
        const LspIndices found = QuantiseLsp(lsp, w, previous);
        // Equal code vectors may exist; what must come back is the vector.
        const Lsp again = RebuildLsp(found, previous);
        for (int i = 0; i < kOrder; ++i) ASSERT_NEAR(again[i], lsp[i], 1e-5f);
        StabiliseLsp(previous = again);
    }
}

TEST(LspQuantiser, ThePredictionUsesThePreviousVector) {
    const LspIndices idx{3, 4, 5};
    Lsp a = InitialLsp();
    Lsp b = a;
    b[0] += 0.1f;
    const Lsp ra = RebuildLsp(idx, a);
    const Lsp rb = RebuildLsp(idx, b);
    EXPECT_NEAR(rb[0] - ra[0], kLspPrediction[0] * 0.1f, 1e-6f);
    for (int i = 1; i < kOrder; ++i) EXPECT_EQ(ra[i], rb[i]);
}

TEST(Stabilisation, PutsSwappedLspsInOrderBeforeSpacingThem) {
    Lsp lsp = InitialLsp();
    std::swap(lsp[1], lsp[2]); // w3 < w2
    const Lsp expected = InitialLsp();
    StabiliseLsp(lsp);
    for (int i = 0; i < kOrder; ++i) EXPECT_FLOAT_EQ(lsp[i], expected[i]);
}

TEST(Stabilisation, CloseLspsAreSpreadByTheContinuousRule) {
    Lsp lsp = InitialLsp();
    lsp[8] = lsp[7] + 0.01f; // upper band, threshold 0.1
    StabiliseLsp(lsp);
    EXPECT_NEAR(lsp[8] - lsp[7], 0.05f + 0.0001f / 0.2f, 1e-5f);
    Lsp low = InitialLsp();
    low[1] = low[0] + 0.06f; // exactly at the threshold: unchanged
    const float kept = low[1];
    StabiliseLsp(low);
    EXPECT_FLOAT_EQ(low[1], kept);
}

TEST(Stabilisation, AnyRebuiltVectorEndsOrderedInsideTheOpenRange) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 4.5f);
    for (int trial = 0; trial < 5000; ++trial) {
        Lsp lsp;
        for (float &x : lsp) x = u(rng);
        StabiliseLsp(lsp);
        ASSERT_GE(lsp[0], 0.03f - 1e-6f);
        ASSERT_LE(lsp[kOrder - 1], static_cast<float>(std::numbers::pi) - 0.03f + 1e-6f);
        for (int i = 1; i < kOrder; ++i) ASSERT_GE(lsp[i] - lsp[i - 1], 0.0299f) << trial;
    }
}

TEST(Stabilisation, EveryIndexTripleAfterAnyHistoryGivesAStableFilter) {
    // The decoder's path on a random stream: the synthesis filter's impulse
    // response must die away, not merely stay bounded.
    std::mt19937 rng(9);
    Lsp previous = InitialLsp();
    std::vector<double> y(kOrder + 20000);
    for (int frame = 0; frame < 600; ++frame) {
        const LspIndices idx{static_cast<int>(rng() % 256), static_cast<int>(rng() % 256), static_cast<int>(rng() % 256)};
        Lsp lsp = RebuildLsp(idx, previous);
        StabiliseLsp(lsp);
        float a[kOrder];
        dsp::LspToLpc(lsp.data(), kOrder, a);
        std::fill(y.begin(), y.end(), 0.0);
        double early = 0.0, late = 0.0;
        for (int n = 0; n < 20000; ++n) {
            double acc = n == 0 ? 1.0 : 0.0;
            for (int i = 0; i < kOrder; ++i) acc -= a[i] * y[static_cast<std::size_t>(kOrder + n - 1 - i)];
            y[static_cast<std::size_t>(kOrder + n)] = acc;
            if (n < 1000) early += acc * acc;
            if (n >= 19000) late += acc * acc;
        }
        ASSERT_LT(late, 1e-3 * early) << "frame " << frame;
        previous = lsp;
    }
}

TEST(Interpolation, SubframesMoveFromThePreviousToTheCurrentVector) {
    const Lsp previous = InitialLsp();
    Lsp current = previous;
    for (float &x : current) x *= 0.9f;
    float lpc[kMaxSubframes][kOrder];
    InterpolateLsp(current, previous, 4, lpc);
    const float weights[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    for (int j = 0; j < 4; ++j) {
        Lsp mixed;
        for (int i = 0; i < kOrder; ++i) mixed[i] = (1.0f - weights[j]) * previous[i] + weights[j] * current[i];
        float expected[kOrder];
        dsp::LspToLpc(mixed.data(), kOrder, expected);
        for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(lpc[j][i], expected[i], 1e-5f) << j;
    }
    InterpolateLsp(current, previous, 3, lpc);
    Lsp third;
    for (int i = 0; i < kOrder; ++i) third[i] = (2.0f / 3.0f) * previous[i] + (1.0f / 3.0f) * current[i];
    float expected[kOrder];
    dsp::LspToLpc(third.data(), kOrder, expected);
    for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(lpc[0][i], expected[i], 1e-5f);
}

} // namespace
} // namespace vntr::vt4864v6
