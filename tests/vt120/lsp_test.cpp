// The LSP quantiser, its inverse, the ordering and spacing, the interpolation.
#include "lsp_quant.hpp"
#include "tables.hpp"

#include <vntr/dsp/lsp.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

namespace vntr::vt120 {
namespace {

TEST(LspTables, StageOneStartsWithTheQuotedVector) {
    const float quoted[kOrder] = {0.33591f, 0.51147f, 0.74262f, 0.94818f, 1.17043f,
                                  1.58521f, 1.91449f, 2.17929f, 2.5382f,  2.79112f};
    for (int k = 0; k < kOrder; ++k) EXPECT_FLOAT_EQ(kLspCodebook[0][k], quoted[k]);
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

TEST(Stabilise, AnyStageCombinationRebuildsToAStableOrderedVector) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 5000; ++trial) {
        int idx[kLspStages];
        for (int &i : idx) i = static_cast<int>(rng() % 256); // beyond 63 wraps
        const Lsp q = RebuildLsp(idx);
        ASSERT_GE(q[0], dsp::kLowestLsp);
        ASSERT_LE(q[9], dsp::kHighestLsp);
        for (int k = 1; k < kOrder; ++k) ASSERT_GT(q[k], q[k - 1]) << trial;
    }
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
        const auto eight = dsp::MsvqSearch(lsp.data(), w.data(), nullptr, kOrder, stages.data(), kLspStages, 8, nullptr);
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
