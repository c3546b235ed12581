// The active speech level of a recording, measured as ITU-T P.56 method B
// describes: the level of the signal over the time it is active, activity
// being decided against a set of thresholds on a smoothed envelope with a
// hangover, and the threshold chosen where the level lies a fixed margin
// above it.  Levels are in dB relative to the overload point of 16-bit
// samples (dBov): a full-scale square wave is 0 dBov, a full-scale sine
// -3.01 dBov.
#pragma once

#include <cstddef>
#include <span>

namespace vntr::evaluator {

struct SpeechLevel {
    bool active = false;        // false for a signal without activity (silence): no level
    double activeLevelDb = 0;   // dBov over the active time
    double longTermLevelDb = 0; // dBov over the whole signal
    double activity = 0;        // the active share of the signal, 0..1
};

// Accumulates samples on the 16-bit scale a block at a time, so that a file
// of any length is measured in a fixed amount of memory.
class SpeechLevelMeter {
public:
    explicit SpeechLevelMeter(int sampleRate);
    void Add(std::span<const float> samples);
    SpeechLevel Result() const;

    // Envelope time constant, hangover and margin of the method.
    static constexpr double kTimeConstantSeconds = 0.03;
    static constexpr double kHangoverSeconds = 0.2;
    static constexpr double kMarginDb = 15.9;
    // Thresholds 2^0 .. 2^15 on the 16-bit scale.
    static constexpr std::size_t kThresholds = 16;

private:
    double g_;
    std::size_t hangover_;
    double p_ = 0;
    double q_ = 0;
    double sumSquares_ = 0;
    std::size_t samples_ = 0;
    std::size_t activeCount_[kThresholds] = {};
    std::size_t hold_[kThresholds] = {};
};

SpeechLevel MeasureSpeechLevel(std::span<const float> samples, int sampleRate);

// The gain in dB that brings `level` to `targetDb`; 0 for a signal without activity.
double GainToLevel(const SpeechLevel &level, double targetDb);

} // namespace vntr::evaluator
