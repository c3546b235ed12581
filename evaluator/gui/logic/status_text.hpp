// The lines of the status area.  The first line is a heading; each further
// line is drawn behind a bullet.
#pragma once

#include "core/evaluator.hpp"

#include <string>
#include <vector>

namespace vntr::gui {

using StatusLines = std::vector<std::string>;

StatusLines IdleStatus();
StatusLines ResultsStatus();
// The codec's description, its size, coding and decoding lines, and its
// objective quality against what it was fed.
StatusLines DetailStatus(const evaluator::CodecSlot &slot);
StatusLines ProcessingStatus(const evaluator::ProgressLines &progress);
// "Recording a new original file :" with the rate and the time and size so
// far (the size from the elapsed time: rate x bytes per sample frame).
StatusLines RecordingStatus(int32_t rate, uint16_t blockAlign, int64_t elapsedMs);

// "SNR 17.0 dB, segmental SNR 13.3 dB, log-spectral distance 9.27 dB"; a note
// when the figures could not be measured.
std::string QualityText(const evaluator::Quality &quality);

// What the status area shows: the state's lines; in the results state the
// detail row's lines when that codec has results (detail may be null).
StatusLines ComposeStatus(evaluator::DisplayState state, const evaluator::CodecSlot *detail,
                          const evaluator::ProgressLines &progress, const StatusLines &recording);

} // namespace vntr::gui
