// Preparing a signal for A/B listening: on the original's time line, at the
// original's rate, with the codec's delay taken out and the level matched.
#pragma once

#include "gui/logic/listening_stream.hpp"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vntr::gui {

// `samples` (16-bit scale, `rate`) with their first `delay` samples dropped,
// resampled to `targetRate`, multiplied by `gain`, clipped to 16 bits and
// cut or padded with silence to `length` samples.
std::vector<int16_t> TimelineTrack(std::span<const float> samples, int rate, int delay, double gain, int targetRate,
                                   int64_t length);

// A wave file at the time line's rate as a track, read as it plays: its
// samples from `delay` on, multiplied by `gain` and clipped to 16 bits, as
// TimelineTrack makes them.  Silent when the file cannot be read.
ListeningStream::Track FileTrack(const std::string &path, int delay, double gain);
// A wave file at another rate: made whole by TimelineTrack (at `targetRate`,
// `length` samples) when it is first read, so that only the tracks listened
// to are held.
ListeningStream::Track ResampledTrack(const std::string &path, int delay, double gain, int targetRate, int64_t length);

} // namespace vntr::gui
