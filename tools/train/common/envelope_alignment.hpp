#pragma once
// Alignment and level matching for parametric coders, whose waveforms do not
// follow the original's: the measuring tool's --envelope-delay and --match-energy.
#include <cstdint>
#include <vector>

namespace vntr::train {

// The delay (0..maxDelay) at which the short-time amplitude envelopes (RMS
// over 128 samples) of the two signals correlate best.
int FindEnvelopeDelay(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int maxDelay);

// The decoded signal scaled to the original's energy over the aligned overlap.
std::vector<int16_t> MatchEnergy(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int delay);

} // namespace vntr::train
