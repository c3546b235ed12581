// LPC analysis, LSP weights, quantisation, rebuilding, stabilisation and
// interpolation of the dual-rate vocoder.
#include "lsp_quant.hpp"
#include "tables.hpp"

#include <vntr/dsp/lsp.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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

TEST(LspCodebook, FirstVectorsTheFormatFixesSitAtIndexZero) {
    const float first[10] = {0.104308f, 0.049739f,  -0.064519f, -0.069825f, -0.061812f,
                             0.203854f, -0.026463f, 0.157317f,  0.063104f,  -0.218951f};
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
        const LspIndices idx{static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                             static_cast<int>(rng() % 256)};
        const Lsp lsp = RebuildLsp(idx, previous);
        Lsp w;
        for (float &x : w) x = 0.5f + static_cast<float>(rng() % 100) / 50.0f;
        const LspIndices found = QuantiseLsp(lsp, w, previous);
        // Equal code vectors may exist; what must come back is the vector.
        const Lsp again = RebuildLsp(found, previous);
        for (int i = 0; i < kOrder; ++i) ASSERT_NEAR(again[i], lsp[i], 1e-5f);
        Lsp next = again;
        StabiliseLsp(next, previous);
        previous = next;
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
    StabiliseLsp(lsp, InitialLsp());
    for (int i = 0; i < kOrder; ++i) EXPECT_FLOAT_EQ(lsp[i], expected[i]);
}

TEST(Stabilisation, CloseLspsAreSpreadByTheContinuousRule) {
    Lsp lsp = InitialLsp();
    lsp[8] = lsp[7] + 0.01f; // upper band, threshold 0.1
    StabiliseLsp(lsp, InitialLsp());
    EXPECT_NEAR(lsp[8] - lsp[7], 0.05f + 0.0001f / 0.2f, 1e-5f);
    Lsp low = InitialLsp();
    low[1] = low[0] + 0.06f; // exactly at the threshold: unchanged
    const float kept = low[1];
    StabiliseLsp(low, InitialLsp());
    EXPECT_FLOAT_EQ(low[1], kept);
}

// The synthesis filter's cosines fall strictly from below 1 to above -1.
bool MakesAFilter(const Lsp &lsp) {
    double above = 1.0;
    for (float w : lsp) {
        const double c = std::cos(static_cast<double>(w));
        if (!(c < above)) return false;
        above = c;
    }
    return above > -1.0;
}

// 1/A(z) is stable when every reflection coefficient of the step-down
// recursion, run in double on the single-precision coefficients, is inside (-1, 1).
bool StableFilter(const float *lpc) {
    double a[kOrder + 1];
    for (int i = 1; i <= kOrder; ++i) a[i] = lpc[i - 1];
    for (int m = kOrder; m >= 1; --m) {
        const double k = a[m];
        if (!(std::fabs(k) < 1.0)) return false;
        double lower[kOrder + 1];
        for (int i = 1; i < m; ++i) lower[i] = (a[i] - k * a[m - i]) / (1.0 - k * k);
        for (int i = 1; i < m; ++i) a[i] = lower[i];
    }
    return true;
}

TEST(Stabilisation, KeepsWhatOrderingAndSpacingGiveWheneverThatMakesAFilter) {
    // A first LSP close to 0, as the input filter's tail leaves it at a
    // silence onset, one a little below 0 (the same filter, folded), and a
    // last one a little above pi: all kept to the bit.
    Lsp low = InitialLsp();
    low[0] = 0.007f;
    Lsp below = InitialLsp();
    below[0] = -0.004f;
    below[1] = 0.17f;
    Lsp high = InitialLsp();
    high[8] = 2.8f;
    high[9] = 3.15f;
    for (const Lsp &lsp : {low, below, high}) {
        Lsp kept = lsp;
        StabiliseLsp(kept, InitialLsp());
        EXPECT_EQ(kept, lsp);
    }
}

TEST(Stabilisation, AVectorThatMakesNoFilterGivesWayToThePreviousOne) {
    Lsp previous = InitialLsp();
    for (float &x : previous) x *= 1.05f;
    Lsp onZero = InitialLsp();
    onZero[0] = 0.0f; // a pole on the unit circle
    Lsp foldedPast = InitialLsp();
    foldedPast[0] = -0.3f; // folds back above the second LSP
    foldedPast[1] = 0.2f;
    Lsp foldedTop = InitialLsp();
    foldedTop[8] = 3.0f;
    foldedTop[9] = 3.4f; // folds back below the ninth
    Lsp broken = InitialLsp();
    broken[4] = std::numeric_limits<float>::quiet_NaN();
    for (Lsp lsp : {onZero, foldedPast, foldedTop, broken}) {
        StabiliseLsp(lsp, previous);
        EXPECT_EQ(lsp, previous);
    }
    // A previous vector that makes no filter either (never stored by a
    // decoder, but a caller could pass one): the vector of an empty model.
    Lsp lsp = onZero;
    StabiliseLsp(lsp, foldedTop);
    EXPECT_EQ(lsp, InitialLsp());
}

TEST(Stabilisation, AnyVectorEndsMakingAFilter) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 4.5f);
    Lsp previous = InitialLsp();
    for (int trial = 0; trial < 5000; ++trial) {
        Lsp lsp;
        for (float &x : lsp) x = u(rng);
        StabiliseLsp(lsp, previous);
        ASSERT_TRUE(MakesAFilter(lsp)) << trial;
        previous = lsp;
    }
}

TEST(Stabilisation, EveryIndexTripleAfterAnyHistoryGivesStableFilters) {
    // The decoder's path on a random stream: the vector it keeps, and every
    // vector interpolated towards it, convert to a stable synthesis filter -
    // except where an interpolated LSP passes within a hair of 0 or pi
    // (between a vector folded below 0 and one above it): that filter has its
    // pole on the unit circle to single precision, for one sub-frame, in any
    // decoder.
    std::mt19937 rng(9);
    Lsp previous = InitialLsp();
    int folded = 0, marginal = 0, subframes = 0;
    for (int frame = 0; frame < 20000; ++frame) {
        const LspIndices idx{static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                             static_cast<int>(rng() % 256)};
        Lsp lsp = RebuildLsp(idx, previous);
        StabiliseLsp(lsp, previous);
        folded += lsp[0] <= 0.0f || lsp[kOrder - 1] >= static_cast<float>(std::numbers::pi);
        for (int n : {3, 4}) {
            float lpc[kMaxSubframes][kOrder];
            InterpolateLsp(lsp, previous, n, lpc);
            for (int j = 0; j < n; ++j, ++subframes) {
                if (StableFilter(lpc[j])) continue;
                const float w = static_cast<float>(j + 1) / static_cast<float>(n);
                const float first = (1.0f - w) * previous[0] + w * lsp[0];
                const float last = (1.0f - w) * previous[9] + w * lsp[9];
                ASSERT_TRUE(j < n - 1 && (std::fabs(first) < 1e-3f || std::fabs(last - std::numbers::pi) < 1e-3))
                    << "frame " << frame << " sub-frame " << j << " of " << n << ": " << ::testing::PrintToString(lsp);
                ++marginal;
            }
        }
        previous = lsp;
    }
    EXPECT_GT(folded, 0); // the walk reaches folded vectors
    EXPECT_LT(marginal, subframes / 1000);
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
