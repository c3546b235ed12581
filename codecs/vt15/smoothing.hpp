// Correction of the current frame's voicing and pitch from its neighbours,
// before it is quantised: isolated voiced or unvoiced frames, and pitch
// outliers and octave jumps inside voiced runs.
#pragma once

#include "record.hpp"

namespace vntr::vt15 {

// Rounds the next frame's band strengths to 0 or 1 (and unvoices a next frame
// voiced only in band 1 below 37 dB), then corrects the current frame.
// pitchRules false: the voicing rules alone (the tuned encoder's tracker
// has chosen the pitch).
void SmoothRecords(const FrameRecord &previous, FrameRecord &current, FrameRecord &next, bool pitchRules = true);

} // namespace vntr::vt15
