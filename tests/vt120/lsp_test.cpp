// The LSP quantiser, its inverse, the ordering and spacing, the interpolation.
#include "lsp_quant.hpp"
#include "tables.hpp"

#include <vntr/dsp/lsp.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

namespace vntr::vt120 {
namespace {

TEST(LspTables, StageOneStartsWithTheVectorTheFormatFixes) {
    const float fixed[kOrder] = {0.33591f, 0.51147f, 0.74262f, 0.94818f, 1.17043f,
                                 1.58521f, 1.91449f, 2.17929f, 2.5382f,  2.79112f};
    for (int k = 0; k < kOrder; ++k) EXPECT_FLOAT_EQ(kLspCodebook[0][k], fixed[k]);
}

TEST(Stabilise, TwoPassesAtMostThenTheGapRule) {
    // A low value three places too high moves left one place per pass: after
    // two passes it is still out of order, and the gap rule lifts what is above.
    Lsp lsp = {0.3f, 0.4f, 0.5f, 0.2f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, 2.7f};
    StabiliseLsp(lsp);
    EXPECT_FLOAT_EQ(lsp[0], 0.3f); // a full sort would have put 0.2 here
    EXPECT_NEAR(lsp[1], 0.3f + 0.1f * 0.1f * 8.333334f + 0.03f, 1e-6f);
    for (int k = 1; k < kOrder; ++k) EXPECT_GT(lsp[k], lsp[k - 1]);
    EXPECT_FLOAT_EQ(lsp[4], 1.2f);
}

TEST(Stabilise, GapsBelowTheMinimumFollowTheQuadraticRule) {
    Lsp lsp = {0.3f, 0.33f, 0.6f, 0.9f, 0.92f, 1.2f, 1.5f, 1.55f, 2.4f, 2.7f};
    const Lsp before = lsp;
    StabiliseLsp(lsp);
    EXPECT_NEAR(lsp[1] - lsp[0], 0.03f * 0.03f * 8.333334f + 0.03f, 1e-6f);
    EXPECT_NEAR(lsp[4] - lsp[3], 0.02f * 0.02f * 6.25f + 0.04f, 1e-6f);
    EXPECT_NEAR(lsp[7] - lsp[6], 0.05f * 0.05f * 5.0f + 0.05f, 1e-6f);
    EXPECT_FLOAT_EQ(lsp[2], before[2]); // wide gaps are left alone
    EXPECT_FLOAT_EQ(lsp[9], before[9]);
}

TEST(Stabilise, EveryStageCombinationKeepsItsOrderedAndSpacedVector) {
    // With the built-in stages every combination orders and spaces into a
    // vector that makes a filter (all 64^4 do), so the rebuild is exactly
    // that vector, even where its ends leave 0.03 .. pi - 0.03.
    const auto stages = LspStages();
    std::mt19937 rng(3);
    int outside = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        int idx[kLspStages];
        for (int &i : idx) i = static_cast<int>(rng() % 256); // beyond 63 wraps
        const Lsp q = RebuildLsp(idx);
        int wrapped[kLspStages];
        for (int s = 0; s < kLspStages; ++s) wrapped[s] = idx[s] % kLspStageSize;
        Lsp spaced;
        dsp::MsvqSum(nullptr, kOrder, stages.data(), kLspStages, wrapped, spaced.data());
        dsp::OrderAndSpaceLsp(spaced.data(), kOrder, kMinimumLspGap);
        ASSERT_EQ(q, spaced) << trial;
        ASSERT_TRUE(dsp::LspMakesFilter(q.data(), kOrder)) << trial;
        for (int k = 1; k < kOrder; ++k) ASSERT_GT(q[k], q[k - 1]) << trial;
        outside += q[0] < dsp::kLowestLsp || q[9] > dsp::kHighestLsp;
    }
    EXPECT_GT(outside, 0);
}

TEST(Stabilise, OnlyAVectorThatMakesNoFilterIsPulledIntoRange) {
    // A first LSP a little below 0 folds back to the filter of its mirror
    // image: it makes a filter and stands.
    Lsp folded = {-0.01f, 0.05f, 0.5f, 0.8f, 1.1f, 1.4f, 1.7f, 2.0f, 2.3f, 2.6f};
    const Lsp kept = folded;
    StabiliseLsp(folded);
    EXPECT_EQ(folded, kept);
    // Two LSPs below 0 whose mirror images swap order, and a top LSP beyond
    // pi that folds below the one under it: no filter; both are pulled in.
    const Lsp low = {-0.2f, -0.1f, 0.5f, 0.8f, 1.1f, 1.4f, 1.7f, 2.0f, 2.3f, 2.6f};
    const Lsp high = {0.3f, 0.6f, 0.9f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, 3.0f, 3.4f};
    for (Lsp lsp : {low, high}) {
        Lsp spaced = lsp;
        dsp::OrderAndSpaceLsp(spaced.data(), kOrder, kMinimumLspGap);
        ASSERT_FALSE(dsp::LspMakesFilter(spaced.data(), kOrder));
        StabiliseLsp(lsp);
        EXPECT_TRUE(dsp::LspMakesFilter(lsp.data(), kOrder));
        EXPECT_GE(lsp[0], dsp::kLowestLsp);
        EXPECT_LE(lsp[9], dsp::kHighestLsp);
        for (int k = 1; k < kOrder; ++k) EXPECT_GE(lsp[k] - lsp[k - 1], 0.5f * kMinimumLspGap[k] - 1e-6f);
    }
    Lsp lsp = low;
    StabiliseLsp(lsp);
    EXPECT_FLOAT_EQ(lsp[0], dsp::kLowestLsp);
    EXPECT_FLOAT_EQ(lsp[1], dsp::kLowestLsp + 0.03f);
    EXPECT_FLOAT_EQ(lsp[2], 0.5f); // the rest already lay inside
    lsp = high;
    StabiliseLsp(lsp);
    EXPECT_FLOAT_EQ(lsp[9], dsp::kHighestLsp);
    EXPECT_FLOAT_EQ(lsp[8], std::min(3.0f, dsp::kHighestLsp - 0.05f));
    EXPECT_FLOAT_EQ(lsp[7], 2.4f);
}

TEST(Stabilise, ADamagedVectorOfAnotherCodebookRebuildsToAFilter) {
    // A codebook of the training tools can hold anything: a stage-1 vector
    // reaching past pi, the other stages adding nothing.
    static float book[kLspStages][kLspStageSize * kOrder] = {};
    const float wild[kOrder] = {0.3f, 0.6f, 0.9f, 1.2f, 1.5f, 1.8f, 2.1f, 2.4f, 3.0f, 3.4f};
    std::memcpy(book[0], wild, sizeof wild);
    const int idx[kLspStages] = {0, 0, 0, 0};
    const Lsp q = RebuildLsp(idx, book);
    EXPECT_TRUE(dsp::LspMakesFilter(q.data(), kOrder));
    EXPECT_LE(q[9], dsp::kHighestLsp);
    EXPECT_FLOAT_EQ(q[0], 0.3f);
}

TEST(Stabilise, MakesAFilterTellsFoldedFromBroken) {
    Lsp lsp = InitialLsp();
    EXPECT_TRUE(dsp::LspMakesFilter(lsp.data(), kOrder));
    lsp[0] = -0.1f; // folds to 0.1, still below lsp[1]
    EXPECT_TRUE(dsp::LspMakesFilter(lsp.data(), kOrder));
    lsp[0] = -0.6f; // folds above lsp[1] = 0.571
    EXPECT_FALSE(dsp::LspMakesFilter(lsp.data(), kOrder));
    lsp = InitialLsp();
    lsp[4] = lsp[5]; // equal neighbours
    EXPECT_FALSE(dsp::LspMakesFilter(lsp.data(), kOrder));
    lsp = InitialLsp();
    lsp[9] = 3.2f; // folds to 3.08, still above lsp[8] = 2.57
    EXPECT_TRUE(dsp::LspMakesFilter(lsp.data(), kOrder));
    lsp[9] = 4.0f; // folds to 2.28, below lsp[8]
    EXPECT_FALSE(dsp::LspMakesFilter(lsp.data(), kOrder));
    lsp[9] = std::nanf("");
    EXPECT_FALSE(dsp::LspMakesFilter(lsp.data(), kOrder));
}

TEST(Quantiser, TheEncodersVectorIsTheDecodersRebuild) {
    std::mt19937 rng(11);
    std::normal_distribution<float> jitter(0.0f, 0.05f);
    for (int trial = 0; trial < 500; ++trial) {
        Lsp lsp = InitialLsp();
        for (float &x : lsp) x += jitter(rng);
        StabiliseLsp(lsp);
        const LspCode code = QuantiseLsp(lsp, LspWeights(lsp));
        const Lsp rebuilt = RebuildLsp(code.indices);
        for (int k = 0; k < kOrder; ++k) ASSERT_EQ(code.quantised[k], rebuilt[k]) << trial;
    }
}

TEST(Quantiser, TheBuiltInColumnLayoutIsTheCodebooksOwn) {
    // The built-in stages come with their layout by components; a copy of the
    // codebook comes without and is laid out by the search: same codes.
    static float copy[kLspStages][kLspStageSize * kOrder];
    std::memcpy(copy, kLspCodebook, sizeof copy);
    for (int s = 0; s < kLspStages; ++s) {
        ASSERT_NE(LspStages()[static_cast<std::size_t>(s)].columns, nullptr);
        ASSERT_EQ(LspStages(copy)[static_cast<std::size_t>(s)].columns, nullptr);
    }
    std::mt19937 rng(13);
    std::normal_distribution<float> jitter(0.0f, 0.08f);
    for (int trial = 0; trial < 300; ++trial) {
        Lsp lsp = InitialLsp();
        for (float &x : lsp) x += jitter(rng);
        StabiliseLsp(lsp);
        const Lsp w = LspWeights(lsp);
        const LspCode a = QuantiseLsp(lsp, w);
        const LspCode b = QuantiseLsp(lsp, w, copy);
        for (int s = 0; s < kLspStages; ++s) ASSERT_EQ(a.indices[s], b.indices[s]) << trial;
        for (int k = 0; k < kOrder; ++k) ASSERT_EQ(a.quantised[k], b.quantised[k]) << trial;
    }
}

TEST(Quantiser, EightBestIsNoWorseThanTheGreedySearch) {
    std::mt19937 rng(5);
    std::normal_distribution<float> jitter(0.0f, 0.08f);
    const auto stages = LspStages();
    int better = 0;
    for (int trial = 0; trial < 300; ++trial) {
        Lsp lsp = InitialLsp();
        for (float &x : lsp) x += jitter(rng);
        StabiliseLsp(lsp);
        const Lsp w = LspWeights(lsp);
        const auto eight =
            dsp::MsvqSearch(lsp.data(), w.data(), nullptr, kOrder, stages.data(), kLspStages, 8, nullptr);
        const auto one = dsp::MsvqSearch(lsp.data(), w.data(), nullptr, kOrder, stages.data(), kLspStages, 1, nullptr);
        ASSERT_LE(eight.error, one.error * (1.0f + 1e-6f));
        better += eight.error < one.error;
    }
    EXPECT_GT(better, 30);
}

TEST(Weights, FollowTheEnvelopeAndLowerTheTop) {
    const Lsp lsp = InitialLsp();
    const Lsp w = LspWeights(lsp);
    float raw[kOrder];
    dsp::LspWeights(lsp.data(), kOrder, 0.3, raw);
    for (int k = 0; k < kOrder; ++k) EXPECT_EQ(w[k], raw[k]);
    // With uniform LSPs the envelope is flat, so the top two show their factors.
    EXPECT_NEAR(w[8] / w[0], 0.64f, 0.05f);
    EXPECT_NEAR(w[9] / w[0], 0.16f, 0.02f);
}

TEST(Interpolation, SubframeZeroIsHalfWay) {
    Lsp a = InitialLsp();
    Lsp b = a;
    for (int k = 0; k < kOrder; ++k) b[k] += 0.1f * static_cast<float>(k % 3) - 0.05f;
    float lpc[kSubframes][kOrder];
    InterpolateLpc(b, a, lpc);
    Lsp mid;
    for (int k = 0; k < kOrder; ++k) mid[k] = 0.5f * a[k] + 0.5f * b[k];
    float expected0[kOrder], expected1[kOrder];
    dsp::LspToLpc(mid.data(), kOrder, expected0);
    dsp::LspToLpc(b.data(), kOrder, expected1);
    for (int k = 0; k < kOrder; ++k) {
        EXPECT_FLOAT_EQ(lpc[0][k], expected0[k]);
        EXPECT_FLOAT_EQ(lpc[1][k], expected1[k]);
    }
}

TEST(InitialLsp, IsPiKOverEleven) {
    const Lsp lsp = InitialLsp();
    EXPECT_NEAR(lsp[0], 0.2856f, 1e-4f);
    EXPECT_NEAR(lsp[1], 0.5712f, 1e-4f);
    EXPECT_NEAR(lsp[9], 2.856f, 1e-3f);
}

} // namespace
} // namespace vntr::vt120
