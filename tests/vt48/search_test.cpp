// The closed-loop searches of one subframe and their gain quantisers.
#include "excitation.hpp"
#include "searches.hpp"
#include "tables.hpp"

#include <vntr/dsp/filters.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace vntr::vt48 {
namespace {

TEST(PitchGainQuantiser, CountsTheThresholdsReached) {
    EXPECT_EQ(QuantisePitchGain(-5.0f), 0);
    EXPECT_EQ(QuantisePitchGain(-0.897f), 0); // at the first threshold still the lowest level
    EXPECT_EQ(QuantisePitchGain(-0.8969f), 1);
    EXPECT_EQ(QuantisePitchGain(-0.0001f), 5);
    EXPECT_EQ(QuantisePitchGain(0.0f), 6);
    EXPECT_EQ(QuantisePitchGain(0.7f), 11);
    EXPECT_EQ(QuantisePitchGain(1.385f), 14);
    EXPECT_EQ(QuantisePitchGain(1.386f), 15);
    EXPECT_EQ(QuantisePitchGain(40.0f), 15);
}

TEST(CodebookGainQuantiser, TakesTheLastLevelReachedAndASignBit) {
    EXPECT_EQ(QuantiseCodebookGain(0.0f), 0);
    EXPECT_EQ(QuantiseCodebookGain(1.72f), 0);
    EXPECT_EQ(QuantiseCodebookGain(1.73f), 1);
    EXPECT_EQ(QuantiseCodebookGain(1075.68f), 14);
    EXPECT_EQ(QuantiseCodebookGain(1075.69f), 15);
    EXPECT_EQ(QuantiseCodebookGain(1e9f), 15);
    EXPECT_EQ(QuantiseCodebookGain(-0.5f), 16);
    EXPECT_EQ(QuantiseCodebookGain(-300.0f), 16 + 9);
}

TEST(CodebookGainQuantiser, EveryThresholdStartsItsLevelOnBothSides) {
    for (int k = 1; k < 16; ++k) {
        const float at = kCodebookGainThreshold[k];
        const float below = std::nextafter(at, 0.0f);
        EXPECT_EQ(QuantiseCodebookGain(at), k) << k;
        EXPECT_EQ(QuantiseCodebookGain(below), k - 1) << k;
        EXPECT_EQ(QuantiseCodebookGain(-at), 16 + k) << k;
        EXPECT_EQ(QuantiseCodebookGain(-below), 16 + k - 1) << k;
    }
    EXPECT_EQ(QuantiseCodebookGain(-0.0f), 0); // a negative zero is no negative gain
    EXPECT_EQ(QuantiseCodebookGain(std::nanf("")), 0);
    EXPECT_EQ(QuantiseCodebookGain(-INFINITY), 31);
}

TEST(LagRanges, StayWithinTheCodedLags) {
    EXPECT_EQ(FirstSubframeLags(60).lo, 55);
    EXPECT_EQ(FirstSubframeLags(60).hi, 65);
    EXPECT_EQ(FirstSubframeLags(24).lo, 20);
    EXPECT_EQ(FirstSubframeLags(145).hi, 147);
    // An open-loop lag of 14 (a third of a short one) still leaves one lag to try.
    EXPECT_EQ(FirstSubframeLags(14).lo, 20);
    EXPECT_EQ(FirstSubframeLags(14).hi, 20);
    EXPECT_EQ(LaterSubframeLags(60).lo, 53);
    EXPECT_EQ(LaterSubframeLags(60).hi, 68);
    EXPECT_EQ(LaterSubframeLags(26).lo, 20);
    EXPECT_EQ(LaterSubframeLags(140).hi, 147);
    // Every lag of a later range is reachable by its 4-bit delta.
    for (int previous = 20; previous <= 147; ++previous) {
        const LagRange r = LaterSubframeLags(previous);
        EXPECT_GE(r.lo - previous + 7, 0);
        EXPECT_LE(r.hi - previous + 7, 15);
    }
}

// Impulse response of a weighted synthesis filter with a resonance.
std::vector<float> Response(int length) {
    const float a[kOrder] = {-1.2f * 0.9f, 0.6f * 0.81f, 0, 0, 0, 0, 0, 0, 0, 0};
    const float b[kOrder] = {};
    std::vector<float> h(static_cast<std::size_t>(length));
    dsp::PoleZeroImpulseResponse(b, a, kOrder, h.data(), length);
    return h;
}

TEST(AdaptiveSearch, FindsTheLagAndGainThatMadeTheTarget) {
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 1000.0f);
    std::vector<float> history(kHistory);
    for (auto &x : history) x = g(rng);
    const int length = 53;
    const auto h = Response(length);
    for (int lag : {20, 31, 53, 54, 90, 147}) {
        float v[kMaxSubframeLength];
        AdaptiveVector(history.data(), lag, length, v);
        for (float &x : v) x *= 0.7f;
        float t[kMaxSubframeLength];
        FilterByResponse(h.data(), v, length, t);
        const LagRange range{std::max(20, lag - 7), std::min(147, lag + 8)};
        const AdaptiveResult r = SearchAdaptive(history.data(), t, h.data(), length, range);
        EXPECT_EQ(r.lag, lag);
        EXPECT_NEAR(r.gain, 0.7f, 1e-3f);
        EXPECT_EQ(r.gainIndex, 11);
    }
}

TEST(AdaptiveSearch, TheSlidingFilteredVectorMatchesFilteringEachLagAfresh) {
    // The search updates one filtered vector lag by lag (and sums delayed
    // copies of it for lags shorter than the subframe); filtering each lag's
    // vector from scratch must pick the same lag and give the same vector.
    std::mt19937 rng(11);
    std::normal_distribution<float> g(0.0f, 1000.0f);
    for (int length : {53, 54}) {
        const auto h = Response(length);
        for (int trial = 0; trial < 20; ++trial) {
            std::vector<float> history(kHistory);
            for (auto &x : history) x = g(rng);
            std::vector<float> t(static_cast<std::size_t>(length));
            for (auto &x : t) x = g(rng);
            const LagRange range = trial % 2 == 0 ? LagRange{20, 147} : LagRange{20 + trial, 40 + trial};
            int bestLag = range.lo;
            float bestScore = -1.0f;
            std::vector<float> bestY(static_cast<std::size_t>(length));
            for (int lag = range.lo; lag <= range.hi; ++lag) {
                float v[kMaxSubframeLength], y[kMaxSubframeLength];
                AdaptiveVector(history.data(), lag, length, v);
                FilterByResponse(h.data(), v, length, y);
                double c = 0.0, e = 0.0;
                for (int n = 0; n < length; ++n) c += t[n] * y[n], e += y[n] * y[n];
                const float score = static_cast<float>(c * c / e);
                if (score > bestScore) bestScore = score, bestLag = lag, bestY.assign(y, y + length);
            }
            float filtered[kMaxSubframeLength];
            const AdaptiveResult r = SearchAdaptive(history.data(), t.data(), h.data(), length, range, filtered);
            ASSERT_EQ(r.lag, bestLag) << "length " << length << " trial " << trial;
            for (int n = 0; n < length; ++n) EXPECT_NEAR(filtered[n], bestY[n], 1e-3f * (1.0f + std::fabs(bestY[n])));
        }
    }
}

TEST(AdaptiveSearch, AnEmptyHistoryKeepsTheLowestLagWithGainZero) {
    const std::vector<float> history(kHistory, 0.0f);
    const auto h = Response(54);
    std::vector<float> t(54, 1.0f);
    const AdaptiveResult r = SearchAdaptive(history.data(), t.data(), h.data(), 54, {40, 50});
    EXPECT_EQ(r.lag, 40);
    EXPECT_EQ(r.gain, 0.0f);
    EXPECT_EQ(r.gainIndex, 6); // a gain of 0 lies on the 0.0 threshold: level 0.191
}

TEST(FixedSearch, ANullTargetSendsTheSilenceCode) {
    const auto h = Response(53);
    const std::vector<float> zero(53, 0.0f);
    for (bool quiet : {false, true}) {
        const FixedResult r = SearchFixed(zero.data(), h.data(), 53, 40, quiet);
        EXPECT_EQ(r.code, 65);
        EXPECT_EQ(r.gain, 0.0f);
        EXPECT_EQ(r.gainIndex, 0);
    }
}

// The filtered excitation of one code, to use as a target.
std::vector<float> Target(int code, float gain, int lag, int length, const std::vector<float> &h) {
    float e[kMaxSubframeLength] = {};
    AddFixedContribution(code, gain, lag, length, e);
    std::vector<float> t(static_cast<std::size_t>(length));
    FilterByResponse(h.data(), e, length, t.data());
    return t;
}

TEST(FixedSearch, RecoversEachKindOfCode) {
    const int length = 53;
    const auto h = Response(length);
    struct Case {
        int code;
        float gain;
        bool quiet;
    };
    for (const Case c : {Case{17, 50.0f, false}, Case{0, -20.0f, false}, Case{128 + 0b0110101, 300.0f, true},
                         Case{128 + 0b1111111, 80.0f, false}, Case{64 + 0b010011, 120.0f, true},
                         Case{64 + 0b000000, -400.0f, false}}) {
        const auto t = Target(c.code, c.gain, 25, length, h);
        const FixedResult r = SearchFixed(t.data(), h.data(), length, 25, c.quiet);
        EXPECT_EQ(r.code, c.code) << c.code;
        // A pulse train is coded with a quarter of its amplitude, which is what the decoder multiplies by 4.
        EXPECT_NEAR(r.gain, c.gain, std::fabs(c.gain) * 1e-3f) << c.code;
        EXPECT_EQ(r.gainIndex, QuantiseCodebookGain(c.gain));
    }
}

TEST(FixedSearch, APatternWithANegativeFirstPulseIsSentNegated) {
    const int length = 54;
    const auto h = Response(length);
    // Signs -, +, +, -, +, +, +, - through the eight-pulse positions.
    const int8_t signs[8] = {-1, 1, 1, -1, 1, 1, 1, -1};
    float e[kMaxSubframeLength] = {};
    for (int j = 0; j < 8; ++j) e[7 * j] = 90.0f * signs[j];
    std::vector<float> t(length);
    FilterByResponse(h.data(), e, length, t.data());
    const FixedResult r = SearchFixed(t.data(), h.data(), length, 30, true);
    // Negated: +, -, -, +, -, -, -, + ; pulses 1..7 positive where the bit is set: 0b0010001.
    EXPECT_EQ(r.code, 128 + 0b0010001);
    EXPECT_NEAR(r.gain, -90.0f, 0.1f);
    EXPECT_EQ(r.gainIndex, 16 + QuantiseCodebookGain(90.0f));
}

TEST(FixedSearch, QuietFramesSkipThePulseTrain) {
    const int length = 53;
    const auto h = Response(length);
    const auto t = Target(9, 100.0f, 30, length, h); // a single pulse train fits exactly
    EXPECT_EQ(SearchFixed(t.data(), h.data(), length, 30, false).kind, FixedKind::PulseTrain);
    const FixedResult quiet = SearchFixed(t.data(), h.data(), length, 30, true);
    EXPECT_NE(quiet.kind, FixedKind::PulseTrain);
    EXPECT_GE(quiet.code, 64);
}

TEST(FixedSearch, AnIsolatedPulseIsATrainOfOne) {
    // With a lag beyond the subframe a pulse train is one pulse; the patterns
    // cannot place a single pulse and score less.
    const int length = 53;
    std::vector<float> h(length, 0.0f);
    h[0] = 1.0f; // an identity filter: every code scores its own energy exactly
    std::vector<float> t(length, 0.0f);
    t[0] = 10.0f;
    const FixedResult r = SearchFixed(t.data(), h.data(), length, 60, false);
    EXPECT_EQ(r.kind, FixedKind::PulseTrain);
    EXPECT_EQ(r.code, 0);
    EXPECT_FLOAT_EQ(r.gain, 10.0f / 4.0f);
    EXPECT_FLOAT_EQ(r.score, 100.0f);
}

} // namespace
} // namespace vntr::vt48
