// The objective measures frame by frame, for pictures over time: the SNR of
// each 20 ms segment and the log-spectral distance of each spectral frame of
// a decoded signal against its input, and the gain that brings a decoded
// signal to its input's level over active speech.  The frames, floors and
// activity decision are those of the whole-file figures (quality.hpp): the
// mean of a curve over its active frames is the figure.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vntr::evaluator {

struct FrameCurve {
    double firstCentreSeconds = 0; // centre of frame 0, on the reference's time axis
    double stepSeconds = 0;        // between frame centres
    double frameSeconds = 0;       // length of a frame
    std::vector<float> db;
    std::vector<uint8_t> active; // 1 where the frame counts in the whole-file figure

    std::size_t Size() const { return db.size(); }
    double CentreSeconds(std::size_t i) const { return firstCentreSeconds + static_cast<double>(i) * stepSeconds; }
    // Mean over the active frames (0 when there is none).
    double ActiveMean() const;
};

struct FrameQuality {
    bool valid = false;
    FrameCurve snr; // clamped segment SNR
    FrameCurve lsd; // log-spectral distance
};

// `decoded` lags `reference` by `delaySamples` (as found by FindDelay); the
// frames cover the overlap of the two once aligned.
FrameQuality MeasureFrames(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                           int delaySamples);

// The factor by which the aligned decoded signal is multiplied so that its
// energy over the reference's active segments equals the reference's there;
// 1 when either is silent.
double LevelMatchGain(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                      int delaySamples);

} // namespace vntr::evaluator
