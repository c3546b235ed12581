// The encoder's analysis and searches.
#include "bitstream.hpp"
#include "encoder.hpp"
#include "excitation.hpp"
#include "pulse_search.hpp"

#include <vntr/dsp/pitch_analysis.hpp>
#include <vntr/dsp/pulses.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::vt120 {
namespace {

TEST(Encoder, SilenceCodesTheRestingParameters) {
    auto enc = std::make_unique<EncoderState>();
    InitEncoder(*enc);
    const float silence[kFrameLength] = {};
    for (int f = 0; f < 4; ++f) {
        uint8_t coded[kCodedBytes];
        EncodeFrame(*enc, silence, coded);
        for (int i = 0; i < kSubframes; ++i) {
            for (float a : enc->lpc[i]) EXPECT_EQ(a, 0.0f);
            EXPECT_EQ(enc->shaping[i].gain, 0.0f);
            EXPECT_EQ(enc->fields.pitch[i] & 127, 0) << "predictor entry";
            EXPECT_EQ(enc->fields.amplitude[i], 0);
        }
        EXPECT_EQ(enc->openLoopLag, kMinLag);
        EXPECT_EQ(enc->lags[0], kMinLag); // centre 19, the all-zero entry wins at 18
        EXPECT_EQ(coded[0] & 31, kSpeechFrame);
    }
}

TEST(Encoder, EveryFrameStartsWithTypeThree) {
    auto enc = std::make_unique<EncoderState>();
    InitEncoder(*enc);
    std::mt19937 rng(3);
    std::normal_distribution<float> g(0.0f, 3000.0f);
    for (int f = 0; f < 50; ++f) {
        float pcm[kFrameLength];
        for (float &x : pcm) x = std::round(g(rng));
        uint8_t coded[kCodedBytes];
        EncodeFrame(*enc, pcm, coded);
        EXPECT_EQ(coded[0] & 1, 1);
        EXPECT_EQ((coded[0] >> 1) & 1, 1);
        EXPECT_EQ((coded[0] >> 2) & 7, 0);
    }
}

TEST(PitchSearch, CandidatesSurroundTheClampedCentre) {
    EXPECT_EQ(ClampPitchCentre(142), 142);
    EXPECT_EQ(ClampPitchCentre(145), 144);
    EXPECT_EQ(ClampPitchCentre(18), 19);
    // A history of period 143 seen from centre 142 (open-loop lag 142): lag 143 is found.
    std::vector<float> history(kExcitationHistory);
    std::mt19937 rng(2);
    std::normal_distribution<float> g(0.0f, 1000.0f);
    for (int i = 0; i < kExcitationHistory; ++i) history[static_cast<std::size_t>(i)] = g(rng);
    float h[kSubframeLength] = {1.0f, 0.5f, 0.25f};
    float v[kSubframeLength];
    for (int period : {143, 141, 142}) {
        AdaptiveVector(history.data(), period, 127, v);
        float target[kSubframeLength] = {};
        for (int n = 0; n < kSubframeLength; ++n) {
            for (int i = 0; i <= n; ++i) target[n] += h[i] * v[n - i];
        }
        const PitchChoice c = SearchPitch(history.data(), h, target, 142, kPredictorCodebook);
        EXPECT_EQ(c.lag, period);
        EXPECT_EQ(c.entry, 127);
    }
    // Whatever the target, the lag stays inside 141..143.
    for (int trial = 0; trial < 50; ++trial) {
        float target[kSubframeLength];
        for (float &t : target) t = g(rng);
        const PitchChoice c = SearchPitch(history.data(), h, target, 142, kPredictorCodebook);
        EXPECT_GE(c.lag, 141);
        EXPECT_LE(c.lag, 143);
    }
}

// ||t - h * v||^2 of one lag and entry, filtered directly in double.
double PitchError(const float *history, const float *h, const float *t, int lag, int entry) {
    float v[kSubframeLength];
    AdaptiveVector(history, lag, entry, v);
    double e = 0;
    for (int n = 0; n < kSubframeLength; ++n) {
        double y = 0;
        for (int i = 0; i <= n; ++i) y += static_cast<double>(h[i]) * v[n - i];
        e += (t[n] - y) * (t[n] - y);
    }
    return e;
}

TEST(PitchSearch, TheScoresPickWhatFilteringEveryCandidateWould) {
    std::mt19937 rng(12);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<float> history(kExcitationHistory);
        for (float &x : history) x = 500.0f * g(rng);
        float h[kSubframeLength];
        for (int n = 0; n < kSubframeLength; ++n)
            h[n] = std::pow(0.85f, static_cast<float>(n)) * (1.0f + 0.3f * g(rng));
        const int centre = 20 + static_cast<int>(rng() % 120);
        // A target near some candidate, plus noise.
        float target[kSubframeLength];
        float v[kSubframeLength];
        AdaptiveVector(history.data(), centre - 1 + static_cast<int>(rng() % 3), static_cast<int>(rng() % 128), v);
        for (int n = 0; n < kSubframeLength; ++n) {
            double y = 0;
            for (int i = 0; i <= n; ++i) y += static_cast<double>(h[i]) * v[n - i];
            target[n] = static_cast<float>(y) + 200.0f * g(rng);
        }
        const PitchChoice c = SearchPitch(history.data(), h, target, centre, kPredictorCodebook);
        double best = 1e300;
        for (int lag = centre - 1; lag <= centre + 1; ++lag) {
            for (int e = 0; e < 128; ++e) best = std::min(best, PitchError(history.data(), h, target, lag, e));
        }
        const double chosen = PitchError(history.data(), h, target, c.lag, c.entry);
        EXPECT_LE(chosen, best * (1.0 + 1e-4) + 1e-3) << trial;
    }
}

TEST(HarmonicShaping, NoPositiveCorrelationTurnsItOff) {
    // A period of 80 samples: the shifts by 37..43, half a period, all anti-correlate.
    std::vector<float> x(145 + 32);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = static_cast<float>(std::cos(std::numbers::pi * n / 40.0));
    float *cur = x.data() + 145;
    float t0[32];
    const dsp::HarmonicWeighting hw = dsp::HarmonicNoiseWeighting(cur, 32, 40, t0);
    EXPECT_EQ(hw.gain, 0.0f);
    EXPECT_EQ(hw.lag, -1);
    for (int n = 0; n < 32; ++n) EXPECT_EQ(t0[n], cur[n]);
}

} // namespace
} // namespace vntr::vt120
