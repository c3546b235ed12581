// The definitions behind the curves over time (frame_quality.cpp): the
// segments, clamps, activity decision and spectral frames of the
// whole-file figures (quality.cpp), so that a curve's mean over its active
// frames is the figure in the table.  frame_quality_test holds the two
// together: a change to one that the other does not follow fails there.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vntr::evaluator::measure {

// Segment SNRs are clamped to this range before they are averaged.
constexpr double kMinSegmentSnrDb = -10.0;
constexpr double kMaxSegmentSnrDb = 35.0;
// A segment is active when its energy lies within this range of the loudest.
constexpr double kActivityRangeDb = 40.0;

// 20 ms segments: segmental SNR and the activity decision.
inline std::size_t SegmentLength(int sampleRate) {
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::max(sampleRate, 0)) / 50);
}

// The energy a segment must exceed to count as active.
inline double ActivityThreshold(double loudestSegmentEnergy) {
    return loudestSegmentEnergy * std::pow(10.0, -kActivityRangeDb / 10.0);
}

// The SNR of one segment, clamped; a segment without error gets the top.
inline double ClampedSegmentSnr(double signalEnergy, double noiseEnergy) {
    const double snr = noiseEnergy > 0 ? 10.0 * std::log10(signalEnergy / noiseEnergy) : kMaxSegmentSnrDb;
    return std::clamp(snr, kMinSegmentSnrDb, kMaxSegmentSnrDb);
}

// Log-spectral distance frames: the largest power of two within 32 ms (at
// least 16 samples), Hann-windowed, half overlapped.
inline std::size_t SpectralFrameLength(int sampleRate) {
    std::size_t frame = 1;
    while (frame * 2 <= static_cast<std::size_t>(std::max(sampleRate, 0)) * 32 / 1000) frame *= 2;
    return std::max<std::size_t>(frame, 16);
}

} // namespace vntr::evaluator::measure
