// Butterworth design by the bilinear transform, and the pitch measures.
#include <vntr/dsp/butterworth.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/pitch.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::dsp {
namespace {

constexpr double kRate = 8000.0;
double Omega(double hz) {
    return 2.0 * std::numbers::pi * hz / kRate;
}
double Gain(const SosFilter &f, double hz) {
    return std::abs(SosResponse(f, Omega(hz)));
}

TEST(Butterworth, LowPassOf1000HzHasTheKnownNumeratorGainAndIsHalfPowerAtItsEdge) {
    const SosFilter f = DesignButterworth(FilterBand::LowPass, 6, 1000.0, 0.0, kRate);
    ASSERT_EQ(f.sections, 3);
    // The numerator is k (1 + z^-1)^6 with k = 0.0010517.
    double k = 1.0;
    for (int s = 0; s < f.sections; ++s) {
        k *= f.section[s].b0;
        EXPECT_FLOAT_EQ(f.section[s].b1, 2.0f * f.section[s].b0);
        EXPECT_FLOAT_EQ(f.section[s].b2, f.section[s].b0);
    }
    EXPECT_NEAR(k, 0.0010517, 2e-7);
    EXPECT_NEAR(Gain(f, 0.0), 1.0, 1e-5);
    EXPECT_NEAR(Gain(f, 1000.0), std::sqrt(0.5), 1e-4);
    // Sixth order: 36 dB per octave well above the edge.
    EXPECT_LT(Gain(f, 2000.0), 0.02);
}

TEST(Butterworth, EveryVoicingBandIsHalfPowerAtBothEdgesAndUnityInside) {
    struct Band {
        FilterBand kind;
        double lo, hi, inside;
    };
    const Band bands[] = {{FilterBand::LowPass, 500, 0, 0},
                          {FilterBand::BandPass, 500, 1000, 0},
                          {FilterBand::BandPass, 1000, 2000, 0},
                          {FilterBand::BandPass, 2000, 3000, 0},
                          {FilterBand::HighPass, 3000, 0, 4000}};
    for (const Band &b : bands) {
        const SosFilter f = DesignButterworth(b.kind, 6, b.lo, b.hi, kRate);
        ASSERT_EQ(f.sections, 3);
        EXPECT_NEAR(Gain(f, b.lo), std::sqrt(0.5), 1e-4) << b.lo;
        if (b.kind == FilterBand::BandPass) {
            EXPECT_NEAR(Gain(f, b.hi), std::sqrt(0.5), 1e-4) << b.hi;
            const double centre = 2.0 * std::atan(std::sqrt(std::tan(Omega(b.lo) / 2) * std::tan(Omega(b.hi) / 2)));
            EXPECT_NEAR(std::abs(SosResponse(f, centre)), 1.0, 1e-5);
            // (1 - z^-2)^3: nothing at DC or at the Nyquist frequency.
            EXPECT_LT(Gain(f, 0.0), 1e-6);
            EXPECT_LT(Gain(f, 4000.0), 1e-6);
            for (int s = 0; s < f.sections; ++s) EXPECT_EQ(f.section[s].b1, 0.0f);
        } else {
            EXPECT_NEAR(Gain(f, b.kind == FilterBand::LowPass ? 0.0 : 4000.0), 1.0, 1e-5);
        }
        // Poles inside the unit circle.
        for (int s = 0; s < f.sections; ++s) EXPECT_LT(f.section[s].a2, 1.0f);
    }
}

TEST(Butterworth, RunningTheSectionsMatchesTheResponseAndKeepsStateAcrossBlocks) {
    const SosFilter f = DesignButterworth(FilterBand::BandPass, 6, 1000.0, 2000.0, kRate);
    std::vector<float> x(4000), whole(4000), pieces(4000);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = static_cast<float>(std::sin(Omega(1400.0) * n));
    SosState a{}, b{};
    SosRun(f, a, x.data(), whole.data(), 4000);
    for (int at = 0; at < 4000; at += 180) SosRun(f, b, x.data() + at, pieces.data() + at, std::min(180, 4000 - at));
    for (std::size_t n = 0; n < x.size(); ++n) ASSERT_EQ(whole[n], pieces[n]);
    double peak = 0.0;
    for (std::size_t n = 2000; n < x.size(); ++n) peak = std::max(peak, std::fabs(static_cast<double>(whole[n])));
    EXPECT_NEAR(peak, Gain(f, 1400.0), 2e-3);
}

TEST(LpcToReflection, StepsDownToTheCoefficientsThatBuiltThePredictor) {
    // Step up from known reflection coefficients, then back down.
    const float k[4] = {-0.9f, 0.5f, -0.3f, 0.2f};
    float a[4] = {};
    for (int m = 1; m <= 4; ++m) {
        float prev[4];
        for (int i = 0; i < m - 1; ++i) prev[i] = a[i];
        a[m - 1] = k[m - 1];
        for (int i = 1; i < m; ++i) a[i - 1] = prev[i - 1] + k[m - 1] * prev[m - i - 1];
    }
    float back[4];
    EXPECT_TRUE(LpcToReflection(a, 4, back));
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(back[i], k[i], 1e-5);
    const float unstable[2] = {0.0f, 1.5f};
    EXPECT_FALSE(LpcToReflection(unstable, 2, back));
    EXPECT_EQ(back[0], 0.0f);
}

// A pulse train of period `period` (fractional) through a resonance, with
// its history in front: x[-kHistory .. window-1].
constexpr int kHistory = 200;
std::vector<float> PulseTrain(double period, int window) {
    std::vector<float> x(kHistory + window);
    double next = 3.0;
    double y1 = 0, y2 = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        double in = 0.0;
        if (n + 1 > next) {
            in = 1000.0;
            next += period;
        }
        const double y = in + 1.6 * y1 - 0.8 * y2;
        y2 = y1;
        y1 = y;
        x[n] = static_cast<float>(y);
    }
    return x;
}

TEST(Pitch, IntegerSearchFindsThePeriodAndPrefersItOverItsMultiples) {
    const auto x = PulseTrain(57.0, 160);
    const PitchEstimate p = IntegerPitch(x.data() + kHistory, 160, 40, 160);
    // 57 and 114 correlate alike; searching from 160 down, the shorter must be strictly better.
    EXPECT_TRUE(p.pitch == 57.0f || p.pitch == 114.0f) << p.pitch;
    EXPECT_GT(p.strength, 0.95f);
    const std::vector<float> silent(kHistory + 160, 0.0f);
    const PitchEstimate none = IntegerPitch(silent.data() + kHistory, 160, 40, 160);
    EXPECT_EQ(none.strength, 0.0f);
    EXPECT_EQ(none.pitch, 160.0f);
}

TEST(Pitch, RefinementResolvesAFractionalPeriodAndStaysInItsRange) {
    // A sine of period 47.3 samples: the correlation peak lies between lags.
    std::vector<float> x(kHistory + 160);
    for (std::size_t n = 0; n < x.size(); ++n)
        x[n] = static_cast<float>(1000.0 * std::sin(2 * std::numbers::pi * n / 47.3));
    const PitchEstimate p = RefinePitch(x.data() + kHistory, 160, 46.0f, 5.0f, 20.0f, 160.0f);
    EXPECT_NEAR(p.pitch, 47.3f, 0.05f);
    EXPECT_GT(p.strength, 0.99f);
    EXPECT_NEAR(PitchStrengthAt(x.data() + kHistory, 160, 47.3f), 1.0f, 1e-3f);
    EXPECT_LT(PitchStrengthAt(x.data() + kHistory, 160, 23.65f), -0.9f); // half a period: anti-phase
    // The result never leaves minPitch..maxPitch, and the search never 0.75 P.
    const PitchEstimate low = RefinePitch(x.data() + kHistory, 160, 21.0f, 5.0f, 20.0f, 160.0f);
    EXPECT_GE(low.pitch, 20.0f);
    const PitchEstimate high = RefinePitch(x.data() + kHistory, 160, 159.0f, 5.0f, 20.0f, 160.0f);
    EXPECT_LE(high.pitch, 160.0f);
    EXPECT_GE(high.pitch, 0.75f * 159.0f - 1.0f);
    const std::vector<float> silent(kHistory + 160, 0.0f);
    EXPECT_EQ(RefinePitch(silent.data() + kHistory, 160, 50.0f, 5.0f, 20.0f, 160.0f).strength, 0.0f);
}

} // namespace
} // namespace vntr::dsp
