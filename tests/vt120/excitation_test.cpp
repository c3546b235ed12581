// The excitation model shared by encoder and decoder.
#include "excitation.hpp"

#include <gtest/gtest.h>

#include <cstdint>

#include <cmath>

#include <random>

#include <bit>

#include <vector>

namespace vntr::vt120 {
namespace {

// A history whose sample at distance i from the end (1 = newest) is 1000 + i.
std::vector<float> CountingHistory() {
    std::vector<float> h(kExcitationHistory);
    for (int i = 0; i < kExcitationHistory; ++i) h[static_cast<std::size_t>(i)] = 1000.0f + (kExcitationHistory - i);
    return h;
}

// The predictor entry that picks tap k alone is not in the codebook; a test
// codebook with unit taps shows the extended vector itself.
dsp::PredictorCodebook UnitTaps() {
    dsp::PredictorCodebook book{};
    for (int k = 0; k < 5; ++k) book.taps[1 + k][k] = 1.0;
    dsp::DerivePredictorSearch(book);
    return book;
}

TEST(AdaptiveVector, ShortLagsRepeatTheLastPeriod) {
    const auto history = CountingHistory();
    const auto book = UnitTaps();
    for (int lag : {18, 20, 31, 33}) {
        float v[kSubframeLength];
        AdaptiveVector(history.data(), lag, 1 + 2, v, book); // tap at u(n + 2)
        for (int n = 0; n < kSubframeLength; ++n) {
            // u(2 + n) = e(-T + (n mod T)): distance T - (n mod T) from the end.
            EXPECT_EQ(v[n], 1000.0f + static_cast<float>(lag - n % lag)) << lag << " " << n;
        }
        AdaptiveVector(history.data(), lag, 1 + 0, v, book); // u(n): e(-T-2), e(-T-1), then the period
        EXPECT_EQ(v[0], 1000.0f + static_cast<float>(lag + 2));
        EXPECT_EQ(v[1], 1000.0f + static_cast<float>(lag + 1));
        EXPECT_EQ(v[2], 1000.0f + static_cast<float>(lag));
    }
}

TEST(AdaptiveVector, LongestDecodedLagReadsTheOldestSample) {
    const auto history = CountingHistory();
    const auto book = UnitTaps();
    float v[kSubframeLength];
    AdaptiveVector(history.data(), kMaxDecodedLag, 1 + 0, v, book);
    EXPECT_EQ(v[0], 1000.0f + static_cast<float>(kExcitationHistory)); // history[0]
    AdaptiveVector(history.data(), kMaxDecodedLag, 1 + 4, v, book);
    EXPECT_EQ(v[31], 1000.0f + static_cast<float>(kMaxDecodedLag - 33));
}

TEST(AdaptiveVector, EntryZeroIsSilentAndEntry127IsTheOneTheFormatFixes) {
    const auto history = CountingHistory();
    float v[kSubframeLength];
    AdaptiveVector(history.data(), 40, 0, v);
    for (float x : v) EXPECT_EQ(x, 0.0f);
    AdaptiveVector(history.data(), 40, 127, v);
    const double b[5] = {0.1122, -0.104, 0.0696, 1.0322, 0.0438};
    double expected = 0.0;
    const float u[5] = {1042, 1041, 1040, 1039, 1038};
    for (int k = 0; k < 5; ++k) expected += b[k] * u[k];
    EXPECT_NEAR(v[0], expected, 1e-3);
    // The high bit of an 8-bit pitch word's low part is not an entry bit.
    float w[kSubframeLength];
    AdaptiveVector(history.data(), 40, 127 + 128, w);
    EXPECT_EQ(w[0], v[0]);
}

TEST(Pulses, WordZeroWithSignsZeroIsMinusAAtZeroToThree) {
    float x[kSubframeLength] = {};
    AddPulses(x, 0, 0, 180.0f);
    for (int n = 0; n < kSubframeLength; ++n) EXPECT_EQ(x[n], n < 4 ? -180.0f : 0.0f) << n;
    float y[kSubframeLength] = {};
    AddPulses(y, 0, 0b1010, 7.0f);
    EXPECT_EQ(y[0], -7.0f);
    EXPECT_EQ(y[1], 7.0f);
    EXPECT_EQ(y[2], -7.0f);
    EXPECT_EQ(y[3], 7.0f);
}

TEST(Amplitude, TheSixthBitIsIgnored) {
    EXPECT_EQ(AmplitudeOf(0), 2.0f);
    EXPECT_EQ(AmplitudeOf(31), 13500.0f);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(AmplitudeOf(32 + i), AmplitudeOf(i));
    for (int i = 1; i < 32; ++i) EXPECT_GT(AmplitudeOf(i), AmplitudeOf(i - 1));
}

// The lane-wise convolution gives the plain sum over i = 0..n from +0, to
// the bit, for responses and signals of every scale and sign.
TEST(Convolution, IsThePlainSumInTapOrderToTheBit) {
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (float scale : {1.0f, 1e-20f, 1e20f}) {
        for (int trial = 0; trial < 50; ++trial) {
            float h[kSubframeLength], x[kSubframeLength];
            for (int n = 0; n < kSubframeLength; ++n) {
                h[n] = g(rng) * std::pow(0.9f, static_cast<float>(n));
                x[n] = trial % 7 == 0 && n % 3 ? 0.0f : scale * g(rng);
            }
            float y[kSubframeLength];
            ConvolveSubframe(h, x, y);
            for (int n = 0; n < kSubframeLength; ++n) {
                float plain = 0.0f;
                for (int i = 0; i <= n; ++i) plain += h[i] * x[n - i];
                EXPECT_EQ(std::bit_cast<uint32_t>(y[n]), std::bit_cast<uint32_t>(plain)) << n << " " << trial;
            }
        }
    }
}

TEST(History, ShiftsBySubframe) {
    std::vector<float> h(kExcitationHistory, 0.0f);
    for (int i = 0; i < kExcitationHistory; ++i) h[static_cast<std::size_t>(i)] = static_cast<float>(i);
    float x[kSubframeLength];
    for (int n = 0; n < kSubframeLength; ++n) x[n] = -1.0f - static_cast<float>(n);
    PushExcitation(h.data(), x);
    EXPECT_EQ(h[0], static_cast<float>(kSubframeLength));
    EXPECT_EQ(h[kExcitationHistory - kSubframeLength - 1], static_cast<float>(kExcitationHistory - 1));
    EXPECT_EQ(h[kExcitationHistory - 1], -32.0f);
}

} // namespace
} // namespace vntr::vt120
