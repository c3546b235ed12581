// The encoder's pitch analysis: input filter, open-loop lag, harmonic noise
// weighting, the differential lag search and the predictor search.
#include "bitstream.hpp"
#include "excitation.hpp"
#include "pitch_search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt4864v6 {
namespace {

// A weighted-speech buffer (history, then one sub-frame) holding a pulse
// train of the given period with a little noise.
std::vector<float> PulseTrain(int period, unsigned seed = 1) {
    std::vector<float> x(static_cast<std::size_t>(kWeightedBuffer));
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, 20.0f);
    for (int n = 0; n < kWeightedBuffer; ++n) {
        const int phase = (n + 7) % period;
        x[static_cast<std::size_t>(n)] = (phase == 0 ? 3000.0f : (phase == 1 ? -1200.0f : 0.0f)) + g(rng);
    }
    return x;
}

const float *Current(const std::vector<float> &x, int length) {
    return x.data() + kWeightedBuffer - length;
}

TEST(InputFilter, ScalesAndRemovesTheDcAcrossCalls) {
    InputFilterState state{};
    std::vector<float> x(4000, 1000.0f);
    InputFilter(state, x.data(), 2000);
    EXPECT_NEAR(x[0], 870.0f, 1e-3f); // the first step passes the scaled jump
    InputFilter(state, x.data() + 2000, 2000);
    EXPECT_LT(std::fabs(x[3999]), 1.0f);
    // Split calls equal one call.
    InputFilterState a{}, b{};
    std::vector<float> y(480), z(480);
    for (int n = 0; n < 480; ++n)
        y[static_cast<std::size_t>(n)] = z[static_cast<std::size_t>(n)] = std::sin(0.3f * n) * 5000.0f;
    InputFilter(a, y.data(), 480);
    InputFilter(b, z.data(), 240);
    InputFilter(b, z.data() + 240, 240);
    EXPECT_EQ(y, z);
}

TEST(OpenLoopPitch, SilenceKeepsTheShortestLag) {
    const std::vector<float> x(kWeightedBuffer, 0.0f);
    EXPECT_EQ(OpenLoopPitch(Current(x, 60), 60), 18);
    float t0[60];
    const HarmonicWeighting hw = HarmonicNoiseWeighting(Current(x, 60), 60, 18, t0);
    EXPECT_EQ(hw.lag, -1);
    EXPECT_EQ(hw.gain, 0.0f);
}

TEST(OpenLoopPitch, FindsThePeriodAndNotItsMultiples) {
    for (int period : {20, 33, 45, 57, 71, 90, 100}) {
        for (int length : {60, 80}) {
            const auto x = PulseTrain(period, static_cast<unsigned>(period));
            EXPECT_EQ(OpenLoopPitch(Current(x, length), length), period) << period << " " << length;
        }
    }
}

TEST(HarmonicWeighting, StrongPeriodicityGetsTheFullGainAndFiltersTheTarget) {
    const int length = 60;
    const auto x = PulseTrain(50);
    const float *cur = Current(x, length);
    float t0[60];
    const HarmonicWeighting hw = HarmonicNoiseWeighting(cur, length, 50, t0);
    EXPECT_EQ(hw.lag, 50);
    EXPECT_NEAR(hw.gain, 0.3125f, 0.02f);
    for (int n = 0; n < length; ++n) EXPECT_FLOAT_EQ(t0[n], cur[n] - hw.gain * cur[n - 50]);
}

TEST(HarmonicWeighting, NoiseKeepsTheLagButNoGain) {
    std::vector<float> x(kWeightedBuffer);
    std::mt19937 rng(8);
    std::normal_distribution<float> g(0.0f, 1000.0f);
    for (float &v : x) v = g(rng);
    float t0[80];
    const HarmonicWeighting hw = HarmonicNoiseWeighting(Current(x, 80), 80, 60, t0);
    if (hw.lag >= 0) {
        EXPECT_GE(hw.lag, 57);
        EXPECT_LE(hw.lag, 63);
    }
    EXPECT_EQ(hw.gain, 0.0f);
    for (int n = 0; n < 80; ++n) EXPECT_EQ(t0[n], Current(x, 80)[n]);
}

// Past excitation: a pulse train of the given period.
std::vector<float> PastTrain(int period) {
    std::vector<float> past(kPastExcitation, 0.0f);
    for (int n = kPastExcitation - 1; n >= 0; n -= period) past[static_cast<std::size_t>(n)] = 1000.0f;
    return past;
}

TEST(DifferentialLag, FindsTheLagInsideTheWindow) {
    const int length = 80;
    for (int period : {33, 37, 41}) {
        const auto past = PastTrain(period);
        float v[kMaxSubframeLength + 4];
        BuildExtendedVector(past.data(), period, length, v);
        const int lag = DifferentialLagSearch(past.data(), v, length, 38);
        EXPECT_EQ(lag, period);
    }
}

TEST(DifferentialLag, ScoresEachCandidateByTheFirstSamplesOfItsVector) {
    // A candidate lag T is judged by v(0..L-1), the samples at lag T + 2: a
    // target equal to the samples at lag T itself (v(2..L+1)) is found at
    // lag T - 2, whose vector opens with those samples.
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 500.0f);
    std::vector<float> past(kPastExcitation);
    for (float &x : past) x = g(rng);
    for (int length : {60, 80}) {
        for (int period : {40, 43, 47}) {
            float v[kMaxSubframeLength + 4];
            BuildExtendedVector(past.data(), period, length, v);
            EXPECT_EQ(DifferentialLagSearch(past.data(), v, length, 45), period) << length;
            EXPECT_EQ(DifferentialLagSearch(past.data(), v + 2, length, 45), period - 2) << length;
        }
    }
}

TEST(DifferentialLag, AWinnerOnTheWindowEdgeIsPulledOneStepInside) {
    const int length = 80;
    std::mt19937 rng(21);
    std::normal_distribution<float> g(0.0f, 500.0f);
    std::vector<float> past(kPastExcitation);
    for (float &x : past) x = g(rng);
    // The target is the excitation at one lag exactly, so that lag wins the window.
    struct Case {
        int reference, winner, expected;
    };
    const Case cases[] = {
        {60, 52, 53}, // window 52..67
        {60, 67, 66},
        {20, 18, 19},   // held at 18..33 near the low end
        {140, 145, 144} // held at 130..145 near the high end
    };
    for (const Case &c : cases) {
        float v[kMaxSubframeLength + 4];
        BuildExtendedVector(past.data(), c.winner, length, v);
        const int lag = DifferentialLagSearch(past.data(), v, length, c.reference);
        EXPECT_EQ(lag, c.expected) << c.reference << " " << c.winner;
        const int code = DifferentialCode(lag, c.reference);
        EXPECT_GE(code, 1);
        EXPECT_LE(code, 14);
        EXPECT_EQ(DifferentialLag(code, c.reference), lag);
    }
}

TEST(PredictorSearch, ATargetBuiltFromAnEntryChoosesThatEntry) {
    const int length = 60;
    std::mt19937 rng(12);
    std::normal_distribution<float> g(0.0f, 500.0f);
    std::vector<float> past(kPastExcitation);
    for (float &x : past) x = g(rng);
    std::vector<float> h(length, 0.0f);
    for (int n = 0; n < length; ++n) h[static_cast<std::size_t>(n)] = std::pow(0.8f, static_cast<float>(n));
    float v[kMaxSubframeLength + 4];
    BuildExtendedVector(past.data(), 47, length, v);
    float y[kPredictorTaps][kMaxSubframeLength];
    for (int entry : {1, 2, 40, 127}) {
        // target = sum_j b_j y_j: the filtered pitch excitation of that entry.
        std::vector<float> target(length, 0.0f);
        const std::vector<float> zero(length, 0.0f);
        FilterPredictorViews(v, h.data(), zero.data(), length, y);
        for (int n = 0; n < length; ++n) {
            for (int j = 0; j < kPredictorTaps; ++j)
                target[static_cast<std::size_t>(n)] += static_cast<float>(kPredictorCodebook.taps[entry][j]) * y[j][n];
        }
        const PredictorStatistics stats = FilterPredictorViews(v, h.data(), target.data(), length, y);
        EXPECT_EQ(SearchPredictor(stats), entry);
        // The score of the entry is half the target energy: |t|^2 - |t - Yb|^2 = 2 score.
        double tt = 0.0;
        for (float t : target) tt += static_cast<double>(t) * t;
        EXPECT_NEAR(PredictorScore(stats, kPredictorCodebook, entry), 0.5 * tt, 1e-3 * tt);
    }
    // Nothing to predict: every other entry scores below 0, so entry 0 stays.
    const std::vector<float> silent(length, 0.0f);
    EXPECT_EQ(SearchPredictor(FilterPredictorViews(v, h.data(), silent.data(), length, y)), 0);
}

TEST(PredictorSearch, FilteredViewsAreConvolutionsOfTheShiftedVector) {
    const int length = 80;
    std::mt19937 rng(13);
    std::normal_distribution<float> g(0.0f, 1.0f);
    float v[kMaxSubframeLength + 4];
    for (float &x : v) x = g(rng);
    std::vector<float> h(length);
    for (float &x : h) x = g(rng);
    const std::vector<float> target(length, 1.0f);
    float y[kPredictorTaps][kMaxSubframeLength];
    FilterPredictorViews(v, h.data(), target.data(), length, y);
    for (int j = 0; j < kPredictorTaps; ++j) {
        for (int n = 0; n < length; ++n) {
            double expected = 0.0;
            for (int i = 0; i <= n; ++i) expected += h[static_cast<std::size_t>(i)] * v[n - i + j];
            ASSERT_NEAR(y[j][n], expected, 1e-3) << j << " " << n;
        }
    }
}

} // namespace
} // namespace vntr::vt4864v6
