#include "speech_level.hpp"

#include <algorithm>
#include <cmath>

namespace vntr::evaluator {
namespace {

// 0 dBov: the RMS of a square wave at the 16-bit overload point.
const double kOverloadDb = 20.0 * std::log10(32768.0);

double Threshold(std::size_t j) {
    return std::ldexp(1.0, static_cast<int>(j));
}

} // namespace

SpeechLevelMeter::SpeechLevelMeter(int sampleRate)
    : g_(std::exp(-1.0 / (std::max(sampleRate, 1) * kTimeConstantSeconds))),
      hangover_(static_cast<std::size_t>(std::ceil(std::max(sampleRate, 1) * kHangoverSeconds))) {
    // A threshold starts out past its hangover: silence before the first
    // speech is not active.
    for (auto &h : hold_) h = hangover_;
}

void SpeechLevelMeter::Add(std::span<const float> samples) {
    for (const float sample : samples) {
        const double x = sample;
        sumSquares_ += x * x;
        // The envelope: the rectified signal through two first-order smoothers.
        p_ = g_ * p_ + (1.0 - g_) * std::fabs(x);
        q_ = g_ * q_ + (1.0 - g_) * p_;
        for (std::size_t j = 0; j < kThresholds; ++j) {
            if (q_ >= Threshold(j)) {
                ++activeCount_[j];
                hold_[j] = 0;
            } else if (hold_[j] < hangover_) {
                ++activeCount_[j];
                ++hold_[j];
            }
        }
    }
    samples_ += samples.size();
}

SpeechLevel SpeechLevelMeter::Result() const {
    SpeechLevel level;
    if (samples_ == 0 || !(sumSquares_ > 0)) return level;
    level.longTermLevelDb = 10.0 * std::log10(sumSquares_ / static_cast<double>(samples_)) - kOverloadDb;
    // For each threshold, how far the level over its active time lies above
    // the threshold; that distance shrinks as the threshold rises.  The
    // active level is where it equals the margin, interpolated between the
    // two thresholds around that point.
    double previousLevel = 0;
    double previousDistance = 0;
    std::size_t previousCount = 0;
    bool havePrevious = false;
    for (std::size_t j = 0; j < kThresholds; ++j) {
        const std::size_t count = activeCount_[j];
        if (count == 0) break;
        const double activeDb = 10.0 * std::log10(sumSquares_ / static_cast<double>(count));
        const double distance = activeDb - 20.0 * std::log10(Threshold(j));
        if (distance <= kMarginDb) {
            if (!havePrevious) {
                // Even the lowest threshold lies within the margin: the whole
                // signal counts as active at that threshold.
                level.activeLevelDb = activeDb - kOverloadDb;
                level.activity = static_cast<double>(count) / static_cast<double>(samples_);
            } else {
                const double t = (previousDistance - kMarginDb) / (previousDistance - distance);
                level.activeLevelDb = previousLevel + t * (activeDb - previousLevel) - kOverloadDb;
                const double logCount =
                    std::log(static_cast<double>(previousCount)) +
                    t * (std::log(static_cast<double>(count)) - std::log(static_cast<double>(previousCount)));
                level.activity = std::exp(logCount) / static_cast<double>(samples_);
            }
            level.active = true;
            return level;
        }
        previousLevel = activeDb;
        previousDistance = distance;
        previousCount = count;
        havePrevious = true;
    }
    // The level stays more than the margin above every threshold that saw
    // activity: the highest such threshold decides.
    if (havePrevious) {
        level.activeLevelDb = previousLevel - kOverloadDb;
        level.activity = static_cast<double>(previousCount) / static_cast<double>(samples_);
        level.active = true;
    }
    return level;
}

SpeechLevel MeasureSpeechLevel(std::span<const float> samples, int sampleRate) {
    SpeechLevelMeter meter(sampleRate);
    meter.Add(samples);
    return meter.Result();
}

double GainToLevel(const SpeechLevel &level, double targetDb) {
    return level.active ? targetDb - level.activeLevelDb : 0.0;
}

} // namespace vntr::evaluator
