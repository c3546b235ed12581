// The voice-activity detector.
#include "analysis.hpp"
#include "vad.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt15 {
namespace {

// Features of a frame of 200 windowed samples of `x` (any level, any content).
VadFeatures Measure(VadState &s, const std::vector<float> &x) {
    SpectralAnalysis a;
    float window[kLpcWindow];
    HammingWindow(window);
    std::vector<float> history(kHistory, 0.0f);
    std::copy(x.begin(), x.end(), history.begin() + (kAnalysisCentre - kLpcWindow / 2));
    AnalyseSpectrum(history.data(), window, a);
    return VadMeasure(s, a.windowed, a.autocorrelation, a.lsf);
}

std::vector<float> Noise(std::mt19937 &rng, float level) {
    std::normal_distribution<float> g(0.0f, level);
    std::vector<float> x(kLpcWindow);
    for (float &v : x) v = g(rng);
    return x;
}

std::vector<float> Vowel(float level, int offset) {
    std::vector<float> x(kLpcWindow);
    for (int n = 0; n < kLpcWindow; ++n) {
        const double t = n + offset;
        x[static_cast<std::size_t>(n)] =
            static_cast<float>(level * (std::sin(2 * std::numbers::pi * 120 * t / 8000) +
                                        0.6 * std::sin(2 * std::numbers::pi * 600 * t / 8000) +
                                        0.3 * std::sin(2 * std::numbers::pi * 1200 * t / 8000)));
    }
    return x;
}

TEST(Vad, FeaturesOfKnownSignals) {
    VadState s;
    InitVad(s);
    const VadFeatures silent = Measure(s, std::vector<float>(kLpcWindow, 0.0f));
    EXPECT_NEAR(silent.fullEnergy, 10.0f * std::log10(0.005f * 0.01f), 1e-3f);
    EXPECT_EQ(silent.zeroCrossing, 0.0f);
    // An alternating signal crosses zero at every one of the 180 positions.
    std::vector<float> alternating(kLpcWindow);
    for (int n = 0; n < kLpcWindow; ++n) alternating[static_cast<std::size_t>(n)] = n % 2 ? 100.0f : -100.0f;
    const VadFeatures a = Measure(s, alternating);
    EXPECT_FLOAT_EQ(a.zeroCrossing, 1.0f);
    // ... and lies above the low band: far less energy there.
    EXPECT_LT(a.lowEnergy, a.fullEnergy - 20.0f);
    // A low vowel: energy mostly in the low band, second reflection coefficient positive.
    VadState t;
    InitVad(t);
    const VadFeatures v = Measure(t, Vowel(1000.0f, 0));
    EXPECT_GT(v.lowEnergy, v.fullEnergy - 6.0f);
    EXPECT_LT(v.zeroCrossing, 0.1f);
}

TEST(Vad, FramesBelow15dBAreNeverActive) {
    VadState s;
    InitVad(s);
    std::mt19937 rng(1);
    for (int n = 0; n < 200; ++n) EXPECT_FALSE(VadDecide(s, Measure(s, Noise(rng, 0.5f)))) << n;
}

TEST(Vad, LearnsTheBackgroundThenFindsSpeechInIt) {
    VadState s;
    InitVad(s);
    std::mt19937 rng(2);
    // 100 frames of steady background, then a vowel 30 dB louder, then background
    // again.  Until frame 64 noise whose spectrum wanders may count as active;
    // from then on frames near the background level are inactive.
    int activeInBackground = 0;
    for (int n = 1; n <= 100; ++n) activeInBackground += VadDecide(s, Measure(s, Noise(rng, 30.0f))) && n > 64;
    EXPECT_EQ(activeInBackground, 0);
    int activeInSpeech = 0;
    for (int n = 0; n < 30; ++n) activeInSpeech += VadDecide(s, Measure(s, Vowel(1500.0f, 180 * n)));
    EXPECT_GE(activeInSpeech, 28);
    int activeAfter = 0;
    for (int n = 0; n < 60; ++n) activeAfter += VadDecide(s, Measure(s, Noise(rng, 30.0f))) && n >= 10;
    EXPECT_EQ(activeAfter, 0);
}

TEST(Vad, TheMinimumTracksTheQuietestOfTheLast64Frames) {
    VadState s;
    InitVad(s);
    std::mt19937 rng(3);
    for (int n = 1; n <= 64; ++n) VadDecide(s, Measure(s, Noise(rng, n == 20 ? 3.0f : 100.0f)));
    EXPECT_LT(s.previousMinimum, 25.0f); // the quiet frame 20
    // After 64 further loud frames it has left the window.
    for (int n = 0; n < 72; ++n) VadDecide(s, Measure(s, Noise(rng, 100.0f)));
    EXPECT_GT(s.previousMinimum, 30.0f);
}

} // namespace
} // namespace vntr::vt15
