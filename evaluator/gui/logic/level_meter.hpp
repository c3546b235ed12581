// The level meter: the peak of the samples being played or recorded, shown
// on 40 steps as five segments of eight steps each, filled from the bottom;
// the top segment uses saturated pictures from its fifth step on.
#pragma once

#include <array>
#include <cstddef>

namespace vntr::gui {

constexpr int kMeterSteps = 40;
constexpr int kMeterSegments = 5;
constexpr int kStepsPerSegment = 8;

// Peak of PCM samples on 0..1: 16-bit signed (|s| / 32768) or 8-bit
// unsigned (|s - 128| / 128), every channel alike.
double PcmPeak(const unsigned char *pcm, std::size_t bytes, int bytesPerSample);

// A peak on 0..1 as meter steps 0..40 (out-of-range and NaN peaks clamped).
int MeterLevel(double peak);

struct MeterCell {
    int fill = 0;           // 0 (empty) to 8 (full)
    bool saturated = false; // drawn with the saturated picture
};

// The five segments for a level, bottom first.
std::array<MeterCell, kMeterSegments> MeterCells(int level);

} // namespace vntr::gui
