// The excitation rules both sides share, the pulse search and the pulse gain.
#include "excitation.hpp"
#include "pulse_search.hpp"
#include "tables.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace vntr::vt4864v6 {
namespace {

std::vector<float> Ramp() {
    std::vector<float> past(kPastExcitation);
    for (int i = 0; i < kPastExcitation; ++i) past[static_cast<std::size_t>(i)] = static_cast<float>(i);
    return past;
}

TEST(PitchExcitation, ShortLagRepeatsTheLastPeriodAcrossTheSubframe) {
    const auto past = Ramp();
    float v[60 + 4];
    BuildExtendedVector(past.data(), 19, 60, v);
    EXPECT_EQ(v[0], 145 - 19);
    EXPECT_EQ(v[1], 146 - 19);
    for (int m = 0; m < 62; ++m) ASSERT_EQ(v[2 + m], 147 - 19 + m % 19) << m;
}

TEST(PitchExcitation, LongestLagReachesTheOldestPastSample) {
    const auto past = Ramp();
    float v[80 + 4];
    BuildExtendedVector(past.data(), kMaxLag, 80, v);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[2], 2.0f);
    EXPECT_EQ(v[81], 81.0f);
}

TEST(PitchExcitation, TapsWeighTheLagAndItsNeighbours) {
    const auto past = Ramp();
    float e[60];
    BuildPitchExcitation(past.data(), 40, 0, 60, e);
    for (float x : e) EXPECT_EQ(x, 0.0f); // entry 0 is all zeros
    BuildPitchExcitation(past.data(), 40, 127, 60, e);
    const double *b = kPredictorCodebook.taps[127];
    // n = 0: lags 42, 41, 40, 39, 38 samples back from the sub-frame start.
    const double expected = b[0] * 105 + b[1] * 106 + b[2] * 107 + b[3] * 108 + b[4] * 109;
    EXPECT_NEAR(e[0], expected, 1e-3);
}

TEST(PredictorCodebook, EntriesTheFormatFixesSitAtTheirIndices) {
    const double entry1[5] = {0.190264, 0.031242, 0.084111, -0.219572, -0.301381};
    const double entry2[5] = {0.131206, -0.217990, 0.422116, 0.737703, -0.074948};
    const double entry127[5] = {0.112244, -0.104028, 0.069623, 1.032230, 0.043769};
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(kPredictorCodebook.taps[0][j], 0.0);
        EXPECT_DOUBLE_EQ(kPredictorCodebook.taps[1][j], entry1[j]);
        EXPECT_DOUBLE_EQ(kPredictorCodebook.taps[2][j], entry2[j]);
        EXPECT_DOUBLE_EQ(kPredictorCodebook.taps[127][j], entry127[j]);
    }
    // The search rows are derived from the taps.
    EXPECT_FLOAT_EQ(kPredictorCodebook.search[5 + 3][2], static_cast<float>(-0.5 * entry2[3] * entry2[3]));
    EXPECT_FLOAT_EQ(kPredictorCodebook.search[10 + 5][2], static_cast<float>(-entry2[3] * entry2[2]));
}

TEST(PredictorCodebook, EveryEntryStaysWithinTheGainRange) {
    // Tap sums from -0.80 to 1.86 and no tap above 1.5: larger gains would let
    // the decoder's dither and any mismatch of its past excitation grow.
    double highest = 0.0;
    for (int e = 0; e < kPredictorEntries; ++e) {
        double sum = 0.0;
        for (int j = 0; j < kPredictorTaps; ++j) {
            EXPECT_LE(std::fabs(kPredictorCodebook.taps[e][j]), 1.5) << e;
            sum += kPredictorCodebook.taps[e][j];
        }
        EXPECT_GE(sum, -0.80 - 1e-6) << e;
        EXPECT_LE(sum, 1.86 + 1e-6) << e;
        highest = std::max(highest, sum);
    }
    EXPECT_GT(highest, 1.0); // voiced speech needs gains near and above 1
}

TEST(Pulses, PositionWordFieldsChainFromTheGridPulse) {
    int pos[kPulses];
    PulsePositions(0, kRate4800, pos);
    EXPECT_EQ(std::vector<int>(pos, pos + 7), (std::vector<int>{0, 5, 10, 15, 19, 20, 21}));
    PulsePositions(0, kRate6400, pos);
    EXPECT_EQ(std::vector<int>(pos, pos + 7), (std::vector<int>{0, 3, 6, 9, 12, 13, 14}));
    // 4.8: grid index 3 (60), then steps 65 (-> 45), and the last choice of pulse 7 (+72).
    PulsePositions(3u | (3u << 2) | (3u << 12), kRate4800, pos);
    EXPECT_EQ(pos[0], 60);
    EXPECT_EQ(pos[1], (60 + 65) % 80);
    EXPECT_EQ(pos[6], (pos[5] + 72) % 80);
    // 6.4: grid index 5 (37), integer division of 5 * 60 / 8.
    PulsePositions(5u | (1u << 3), kRate6400, pos);
    EXPECT_EQ(pos[0], 37);
    EXPECT_EQ(pos[1], 37 + 18);
}

TEST(Pulses, OppositeSignsOnOnePositionCancelAndEqualSignsAdd) {
    for (const RateMode *mode : {&kRate4800, &kRate6400}) {
        // Find a position word that puts two pulses on one sample.
        bool tested = false;
        for (uint32_t word = 0; word < (1u << mode->PositionBits()) && !tested; ++word) {
            int pos[kPulses];
            PulsePositions(word, *mode, pos);
            for (int i = 0; i < kPulses && !tested; ++i) {
                for (int j = i + 1; j < kPulses && !tested; ++j) {
                    if (pos[i] != pos[j]) continue;
                    float e[80] = {};
                    AddPulses(e, 1u << i, word, 31, *mode); // pulse i positive, pulse j negative
                    float same[80] = {};
                    AddPulses(same, (1u << i) | (1u << j), word, 31, *mode);
                    float expectedOthers = 0.0f;
                    for (int k = 0; k < kPulses; ++k) {
                        if (k != i && k != j && pos[k] == pos[i]) expectedOthers -= kPulseGain[31];
                    }
                    EXPECT_EQ(e[pos[i]], expectedOthers);
                    EXPECT_EQ(same[pos[i]], expectedOthers + 2.0f * kPulseGain[31]);
                    tested = true;
                }
            }
        }
        EXPECT_TRUE(tested) << "no position word makes two pulses coincide";
    }
}

TEST(Pulses, LimitHoldsAnyValueInsideTheExcitationRange) {
    float e[4] = {1e30f, -1e30f, std::nanf(""), 12.5f};
    LimitExcitation(e, 4);
    EXPECT_EQ(e[0], kExcitationLimit);
    EXPECT_EQ(e[1], -kExcitationLimit);
    EXPECT_EQ(e[2], 0.0f);
    EXPECT_EQ(e[3], 12.5f);
}

// h: a short decaying response, as a weighted synthesis filter gives.
std::vector<float> Response(int length) {
    std::vector<float> h(static_cast<std::size_t>(length));
    for (int n = 0; n < length; ++n)
        h[static_cast<std::size_t>(n)] = std::pow(0.7f, static_cast<float>(n)) * (n % 3 == 1 ? -0.5f : 1.0f);
    return h;
}

class PulseSearchTest : public ::testing::TestWithParam<const RateMode *> {};

TEST_P(PulseSearchTest, AllZeroTargetTakesTheFirstPathWithPositiveSigns) {
    const RateMode &mode = *GetParam();
    const int L = mode.subframeLength;
    const std::vector<float> target(static_cast<std::size_t>(L), 0.0f);
    const auto h = Response(L);
    PulseBudgets budgets{kBudgetPerFrame, kBudgetPerFrame};
    std::vector<float> c(static_cast<std::size_t>(L)), f(static_cast<std::size_t>(L));
    const PulseChoice r = SearchPulses(target.data(), h.data(), mode, budgets, c.data(), f.data());
    EXPECT_FALSE(r.scored);
    EXPECT_EQ(r.positions, 0);
    EXPECT_EQ(r.signs, 127);
    const std::vector<int> expected =
        mode.is4800 ? std::vector<int>{0, 5, 10, 15, 19, 20, 21} : std::vector<int>{0, 3, 6, 9, 12, 13, 14};
    EXPECT_EQ(std::vector<int>(r.position, r.position + 7), expected);
    EXPECT_EQ(QuantisePulseGain(target.data(), f.data(), L), 0);
    // No expansion was spent.
    EXPECT_EQ(budgets.level4, kBudgetPerFrame + kBudget4PerSubframe);
    EXPECT_EQ(budgets.level5, kBudgetPerFrame + kBudget5PerSubframe);
}

TEST_P(PulseSearchTest, FindsAPulseSetThatTheTargetWasMadeOf) {
    const RateMode &mode = *GetParam();
    const int L = mode.subframeLength;
    // With h = (1, 0.3) pulses three or more samples apart do not interact, so
    // the pair table's correlations are exact and the pair signs those of the pulses.
    std::vector<float> h(static_cast<std::size_t>(L), 0.0f);
    h[0] = 1.0f;
    h[1] = 0.3f;
    std::mt19937 rng(17);
    int found = 0;
    for (int trial = 0; trial < 20000 && found < 20; ++trial) {
        const uint32_t word = rng() & ((1u << mode.PositionBits()) - 1u);
        int pos[kPulses];
        PulsePositions(word, mode, pos);
        bool usable = true;
        for (int i = 0; i < kPulses && usable; ++i) {
            usable = pos[i] + 1 < L;
            for (int k = 0; k < i; ++k) usable = usable && std::abs(pos[k] - pos[i]) >= 3;
        }
        if (!usable) continue;
        const uint32_t signs = rng() & 127u;
        std::vector<float> c(static_cast<std::size_t>(L), 0.0f);
        for (int i = 0; i < kPulses; ++i) c[static_cast<std::size_t>(pos[i])] = (signs >> i) & 1 ? 1.0f : -1.0f;
        std::vector<float> target(static_cast<std::size_t>(L), 0.0f);
        for (int n = 0; n < L; ++n) {
            for (int i = 0; i <= n; ++i)
                target[static_cast<std::size_t>(n)] +=
                    400.0f * h[static_cast<std::size_t>(i)] * c[static_cast<std::size_t>(n - i)];
        }
        PulseBudgets budgets{1000, 1000};
        std::vector<float> cc(static_cast<std::size_t>(L)), f(static_cast<std::size_t>(L));
        const PulseChoice r = SearchPulses(target.data(), h.data(), mode, budgets, cc.data(), f.data());
        ASSERT_TRUE(r.scored);
        EXPECT_EQ(r.positions, word) << trial;
        EXPECT_EQ(r.signs, signs) << trial;
        EXPECT_EQ(kPulseGain[QuantisePulseGain(target.data(), f.data(), L)], 400.0f);
        ++found;
    }
    EXPECT_GE(found, 10);
}

TEST_P(PulseSearchTest, FilteredPulsesAreTheExactConvolution) {
    const RateMode &mode = *GetParam();
    const int L = mode.subframeLength;
    const auto h = Response(L);
    std::mt19937 rng(23);
    std::normal_distribution<float> g(0.0f, 100.0f);
    std::vector<float> target(static_cast<std::size_t>(L));
    for (float &x : target) x = g(rng);
    PulseBudgets budgets{kBudgetPerFrame, kBudgetPerFrame};
    std::vector<float> c(static_cast<std::size_t>(L)), f(static_cast<std::size_t>(L));
    const PulseChoice r = SearchPulses(target.data(), h.data(), mode, budgets, c.data(), f.data());
    for (int n = 0; n < L; ++n) {
        float expected = 0.0f;
        for (int i = 0; i <= n; ++i) expected += h[static_cast<std::size_t>(i)] * c[static_cast<std::size_t>(n - i)];
        ASSERT_NEAR(f[static_cast<std::size_t>(n)], expected, 1e-4f);
    }
    // c carries the signs word.
    float sum = 0.0f;
    for (int i = 0; i < kPulses; ++i) sum += std::fabs(r.sign[i]);
    EXPECT_EQ(sum, 7.0f);
    for (int i = 0; i < kPulses; ++i) EXPECT_EQ(r.sign[i] > 0, ((r.signs >> i) & 1) != 0);
}

TEST_P(PulseSearchTest, ScoresAPathAsIfEachPulseSatOnTheEvenSampleOfItsPair) {
    // The pair table stands every pulse on the even sample of its pair, with
    // the pair's sign: the energy the search gives the path it returns is the
    // energy of those moved pulses after filtering, and its correlation the
    // sum of the sign-corrected backward-filtered target at the real positions.
    const RateMode &mode = *GetParam();
    const int L = mode.subframeLength;
    const auto h = Response(L);
    std::mt19937 rng(37);
    std::normal_distribution<float> g(0.0f, 100.0f);
    std::vector<float> target(static_cast<std::size_t>(L));
    std::vector<float> c(static_cast<std::size_t>(L)), f(static_cast<std::size_t>(L));
    int oddBeforeEven = 0;
    for (int trial = 0; trial < 200; ++trial) {
        for (float &x : target) x = g(rng);
        PulseBudgets budgets{kBudgetPerFrame, kBudgetPerFrame};
        const PulseChoice r = SearchPulses(target.data(), h.data(), mode, budgets, c.data(), f.data());
        if (!r.scored) continue;
        std::vector<double> dd(static_cast<std::size_t>(L), 0.0);
        for (int n = 0; n < L; ++n) {
            for (int i = n; i < L; ++i)
                dd[static_cast<std::size_t>(n)] +=
                    target[static_cast<std::size_t>(i)] * h[static_cast<std::size_t>(i - n)];
        }
        std::vector<double> moved(static_cast<std::size_t>(L), 0.0);
        double correlation = 0.0;
        for (int i = 0; i < kPulses; ++i) {
            const int p = r.position[i];
            const double pairSign =
                dd[static_cast<std::size_t>(p & ~1)] + dd[static_cast<std::size_t>(p | 1)] < 0.0 ? -1.0 : 1.0;
            ASSERT_EQ(r.sign[i], pairSign);
            correlation += pairSign * dd[static_cast<std::size_t>(p)];
            moved[static_cast<std::size_t>(p & ~1)] += pairSign;
            for (int k = 0; k < i; ++k) oddBeforeEven += (r.position[k] % 2 == 1 && p % 2 == 0 && r.position[k] < p);
        }
        double energy = 0.0;
        for (int n = 0; n < L; ++n) {
            double y = 0.0;
            for (int i = 0; i <= n; ++i) y += h[static_cast<std::size_t>(i)] * moved[static_cast<std::size_t>(n - i)];
            energy += y * y;
        }
        EXPECT_NEAR(r.energy, energy, 1e-4 * energy) << trial;
        EXPECT_NEAR(r.correlation, correlation, 1e-3 * std::fabs(correlation) + 1e-2) << trial;
    }
    // The paths include pulses on odd samples before pulses on even ones,
    // where a pair distance taken as (b - a) div 2 would name the wrong pair.
    EXPECT_GT(oddBeforeEven, 20);
}

TEST_P(PulseSearchTest, ExhaustedBudgetEndsTheSearchAtOnceAndTheNextSubframeStartsFromTheGrowth) {
    const RateMode &mode = *GetParam();
    const int L = mode.subframeLength;
    const auto h = Response(L);
    std::mt19937 rng(29);
    std::normal_distribution<float> g(0.0f, 100.0f);
    std::vector<float> target(static_cast<std::size_t>(L));
    std::vector<float> c(static_cast<std::size_t>(L)), f(static_cast<std::size_t>(L));
    int exhausted = 0;
    for (int trial = 0; trial < 50; ++trial) {
        for (float &x : target) x = g(rng);
        // One level-4 expansion left after the growth.
        PulseBudgets budgets{1 - kBudget4PerSubframe, 1000};
        SearchPulses(target.data(), h.data(), mode, budgets, c.data(), f.data());
        if (budgets.level5 == 1000 + kBudget5PerSubframe) continue; // nothing passed the thresholds
        ++exhausted;
        EXPECT_EQ(budgets.level4, 0);                              // stopped when it fell below 1
        EXPECT_GE(budgets.level5, 1000 + kBudget5PerSubframe - 4); // one pulse-4 node: at most 4 pulse-5 nodes
        PulseBudgets next = budgets;
        SearchPulses(target.data(), h.data(), mode, next, c.data(), f.data());
        EXPECT_LE(next.level4, kBudget4PerSubframe);
        EXPECT_GE(next.level4, 0);
    }
    EXPECT_GT(exhausted, 10);
}

TEST_P(PulseSearchTest, LargerBudgetsNeverFindAWorseSet) {
    const RateMode &mode = *GetParam();
    const int L = mode.subframeLength;
    const auto h = Response(L);
    std::mt19937 rng(31);
    std::normal_distribution<float> g(0.0f, 100.0f);
    std::vector<float> target(static_cast<std::size_t>(L));
    std::vector<float> c(static_cast<std::size_t>(L)), f(static_cast<std::size_t>(L));
    // The search's own measure of the path it returns.
    auto quality = [&](PulseBudgets budgets) {
        const PulseChoice r = SearchPulses(target.data(), h.data(), mode, budgets, c.data(), f.data());
        return r.scored ? static_cast<double>(r.correlation) * r.correlation / r.energy : 0.0;
    };
    int better = 0;
    for (int trial = 0; trial < 100; ++trial) {
        for (float &x : target) x = g(rng);
        const double small = quality({1 - kBudget4PerSubframe, 1 - kBudget5PerSubframe});
        const double large = quality({100000, 100000});
        // A larger budget walks a superset of the leaves.
        EXPECT_GE(large, small * (1.0 - 1e-5)) << trial;
        better += large > small * 1.0001;
    }
    EXPECT_GT(better, 0);
}

INSTANTIATE_TEST_SUITE_P(BothRates, PulseSearchTest, ::testing::Values(&kRate4800, &kRate6400),
                         [](const auto &param) { return param.param->is4800 ? "Rate4800" : "Rate6400"; });

TEST(PulseGain, NearestTableValueWithTheLowerIndexOnTies) {
    const float f[2] = {1.0f, 0.0f};
    auto index = [&](float gain) {
        const float t[2] = {gain, 0.0f};
        return QuantisePulseGain(t, f, 2);
    };
    EXPECT_EQ(index(-5.0f), 0);
    EXPECT_EQ(index(0.0f), 0);
    EXPECT_EQ(index(1000.0f), 22);
    EXPECT_EQ(index(5.5f), 1); // 4 and 7 are equally far: the first wins
    EXPECT_EQ(index(5.6f), 2);
    EXPECT_EQ(index(1e9f), 31);
}

} // namespace
} // namespace vntr::vt4864v6
