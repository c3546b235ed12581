// The predictor codebook's centroid step and the fractional-delay design.
#include "fractional_delay.hpp"
#include "predictor_training.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace vntr::train {
namespace {

// Statistics of a sub-frame whose target is exactly sum_j b_j y_j for random views.
PredictorObservation Exact(const double *b, std::mt19937 &rng) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    float y[5][32], t[32] = {};
    for (auto &row : y) {
        for (float &v : row) v = g(rng);
    }
    for (int n = 0; n < 32; ++n) {
        for (int j = 0; j < 5; ++j) t[n] += static_cast<float>(b[j]) * y[j][n];
    }
    PredictorObservation o;
    dsp::PredictorStatistics &s = o.stats[0];
    int p = 0;
    for (int j = 0; j < 5; ++j) {
        s.c[j] = s.e[j] = 0;
        for (int n = 0; n < 32; ++n) {
            s.c[j] += t[n] * y[j][n];
            s.e[j] += y[j][n] * y[j][n];
        }
    }
    for (int j = 1; j < 5; ++j) {
        for (int k = 0; k < j; ++k) {
            s.x[p] = 0;
            for (int n = 0; n < 32; ++n) s.x[p] += y[j][n] * y[k][n];
            ++p;
        }
    }
    for (float v : t) o.targetEnergy += v * v;
    return o;
}

TEST(PredictorLloyd, ACellOfOnePredictorMovesOntoItAndFixedEntriesStay) {
    std::mt19937 rng(1);
    const double truth[5] = {0.1, -0.2, 0.9, 0.15, 0.05};
    std::vector<PredictorObservation> obs;
    for (int i = 0; i < 200; ++i) obs.push_back(Exact(truth, rng));
    dsp::PredictorCodebook book{};
    for (int j = 0; j < 5; ++j) book.taps[1][j] = j == 2 ? 0.5 : 0.0; // the only free entry in use
    book.taps[127][3] = 1.0;                                          // fixed
    dsp::DerivePredictorSearch(book);
    PredictorTrainingRules rules{{0, 127}};
    const auto before = PredictorLloyd(obs, book, 2, rules, rng, true);
    for (int j = 0; j < 5; ++j) EXPECT_NEAR(book.taps[1][j], truth[j], 1e-3) << j;
    EXPECT_EQ(book.taps[127][3], 1.0);
    for (int j = 0; j < 5; ++j) EXPECT_EQ(book.taps[0][j], 0.0);
    const auto after = PredictorLloyd(obs, book, 2, rules, rng, false);
    EXPECT_GT(after.gainDb, before.gainDb + 10.0); // an exact predictor leaves almost nothing
}

TEST(PredictorLloyd, TheRangeHoldsAGainOfThreeBack) {
    std::mt19937 rng(2);
    const double loud[5] = {0.0, 0.0, 3.0, 0.0, 0.0};
    std::vector<PredictorObservation> obs;
    for (int i = 0; i < 100; ++i) obs.push_back(Exact(loud, rng));
    dsp::PredictorCodebook book{};
    book.taps[1][2] = 1.0;
    dsp::DerivePredictorSearch(book);
    PredictorTrainingRules rules{{0}};
    PredictorLloyd(obs, book, 2, rules, rng, true);
    EXPECT_TRUE(rules.WithinRange(book.taps[1]));
    EXPECT_GT(book.taps[1][2], 1.0); // as far towards 3 as the range lets it
}

TEST(FractionalDelay, RowsMirrorAndReproduceTheFormatsRoundedValues) {
    for (int taps : {4, 16}) {
        for (int p = 1; p <= 7; ++p) {
            const auto a = DesignFractionalDelayRow(taps, p);
            const auto b = DesignFractionalDelayRow(taps, 8 - p);
            for (int j = 0; j < taps; ++j)
                EXPECT_NEAR(a[static_cast<std::size_t>(j)], b[static_cast<std::size_t>(taps - 1 - j)], 1e-12);
        }
    }
    EXPECT_TRUE(ReproducesPublished({{4, 4, {-0.04557, 0.55085, 0.55085, -0.04557}}}));
    EXPECT_FALSE(ReproducesPublished({{4, 4, {-0.04557, 0.55086, 0.55085, -0.04557}}}));
    EXPECT_TRUE(MatchesToItsDecimals(0.630992836, 0.63099));
    EXPECT_TRUE(MatchesToItsDecimals(0.630992836, 0.631)); // at three decimals
    EXPECT_FALSE(MatchesToItsDecimals(0.630992836, 0.63098));
}

} // namespace
} // namespace vntr::train
