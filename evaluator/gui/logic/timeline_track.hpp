// Preparing a signal for A/B listening: on the original's time line, at the
// original's rate, with the codec's delay taken out and the level matched.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vntr::gui {

// `samples` (16-bit scale, `rate`) with their first `delay` samples dropped,
// resampled to `targetRate`, multiplied by `gain`, clipped to 16 bits and
// cut or padded with silence to `length` samples.
std::vector<int16_t> TimelineTrack(std::span<const float> samples, int rate, int delay, double gain, int targetRate,
                                   int64_t length);

} // namespace vntr::gui
