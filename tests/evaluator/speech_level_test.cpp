// The active speech level of signals whose level is known: a steady tone,
// the same tone with pauses, a tone at two levels, silence.
#include "core/speech_level.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using vntr::evaluator::GainToLevel;
using vntr::evaluator::MeasureSpeechLevel;
using vntr::evaluator::SpeechLevel;
using vntr::evaluator::SpeechLevelMeter;

constexpr int kRate = 8000;

// A 1 kHz sine of `amplitude` for `seconds`, appended to `out`.
void Tone(std::vector<float> &out, double amplitude, double seconds) {
    const auto n = static_cast<std::size_t>(seconds * kRate);
    for (std::size_t i = 0; i < n; ++i)
        out.push_back(static_cast<float>(amplitude * std::sin(2 * M_PI * 1000.0 * i / kRate)));
}
void Silence(std::vector<float> &out, double seconds) {
    out.resize(out.size() + static_cast<std::size_t>(seconds * kRate), 0.0f);
}

// The level of a sine of this amplitude on the 16-bit scale, in dBov.
double SineLevel(double amplitude) {
    return 20.0 * std::log10(amplitude / std::sqrt(2.0) / 32768.0);
}

TEST(SpeechLevelTest, ASteadyToneIsActiveThroughoutAtItsRmsLevel) {
    std::vector<float> x;
    Tone(x, 3277.0, 4.0);
    const SpeechLevel level = MeasureSpeechLevel(x, kRate);
    ASSERT_TRUE(level.active);
    EXPECT_NEAR(level.activeLevelDb, SineLevel(3277.0), 0.1); // -23.01 dBov
    EXPECT_NEAR(level.longTermLevelDb, SineLevel(3277.0), 0.01);
    EXPECT_GT(level.activity, 0.97);
    // A full-scale sine is -3.01 dBov.
    x.clear();
    Tone(x, 32767.0, 2.0);
    EXPECT_NEAR(MeasureSpeechLevel(x, kRate).activeLevelDb, -3.01, 0.1);
}

TEST(SpeechLevelTest, PausesLowerTheLongTermLevelButNotTheActiveLevel) {
    std::vector<float> x;
    for (int i = 0; i < 4; ++i) {
        Tone(x, 1000.0, 1.0);
        Silence(x, 1.0);
    }
    const SpeechLevel level = MeasureSpeechLevel(x, kRate);
    ASSERT_TRUE(level.active);
    // Half the time is active, more with the envelope's tail and the 0.2 s hangover.
    EXPECT_GT(level.activity, 0.55);
    EXPECT_LT(level.activity, 0.7);
    EXPECT_NEAR(level.longTermLevelDb, SineLevel(1000.0) - 3.01, 0.05);
    EXPECT_NEAR(level.activeLevelDb, SineLevel(1000.0) + 10.0 * std::log10(0.5 / level.activity), 0.05);
    EXPECT_NEAR(level.activeLevelDb, SineLevel(1000.0), 1.5);
}

TEST(SpeechLevelTest, BlocksGiveTheSameLevelAsTheWholeAndScalingMovesItByTheGain) {
    std::vector<float> x;
    Tone(x, 500.0, 0.7);
    Silence(x, 0.5);
    Tone(x, 4000.0, 1.3);
    Silence(x, 0.3);
    const SpeechLevel whole = MeasureSpeechLevel(x, kRate);
    SpeechLevelMeter meter(kRate);
    for (std::size_t at = 0; at < x.size(); at += 997) {
        meter.Add(std::span<const float>(x).subspan(at, std::min<std::size_t>(997, x.size() - at)));
    }
    const SpeechLevel blocks = meter.Result();
    EXPECT_DOUBLE_EQ(blocks.activeLevelDb, whole.activeLevelDb);
    EXPECT_DOUBLE_EQ(blocks.activity, whole.activity);
    // The loud part dominates; the level lies between the two tones'.
    EXPECT_GT(whole.activeLevelDb, SineLevel(500.0));
    EXPECT_LT(whole.activeLevelDb, SineLevel(4000.0));
}

// Scaling a recording by the gain to a target level gives that level,
// whatever level it had (the thresholds are fixed, the measure nearly
// independent of scale for a signal of one level with pauses).
TEST(SpeechLevelTest, TheGainBringsTheLevelToTheTarget) {
    for (const double amplitude : {150.0, 1000.0, 9000.0}) {
        std::vector<float> x;
        for (int i = 0; i < 3; ++i) {
            Tone(x, amplitude, 0.6 + 0.2 * i);
            Silence(x, 0.4);
        }
        const double gain = GainToLevel(MeasureSpeechLevel(x, kRate), -26.0);
        for (auto &v : x) v = static_cast<float>(v * std::pow(10.0, gain / 20.0));
        EXPECT_NEAR(MeasureSpeechLevel(x, kRate).activeLevelDb, -26.0, 0.15) << amplitude;
    }
}

TEST(SpeechLevelTest, SilenceHasNoLevelAndNeedsNoGain) {
    std::vector<float> x;
    Silence(x, 2.0);
    const SpeechLevel level = MeasureSpeechLevel(x, kRate);
    EXPECT_FALSE(level.active);
    EXPECT_EQ(GainToLevel(level, -26.0), 0.0);
    EXPECT_FALSE(MeasureSpeechLevel({}, kRate).active);
}

} // namespace
