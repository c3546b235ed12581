// Objective speech-quality measures between an original and a decoded
// signal: the time alignment found by cross-correlation, SNR, segmental SNR
// and log-spectral distance.
#pragma once

#include <cstdint>
#include <vector>

namespace vntr::train {

struct Measures {
    int delay = 0;          // decoded lags the original by this many samples
    double snr = 0.0;       // dB, over the aligned overlap
    double segmentalSnr = 0.0; // dB, mean over active 20 ms frames, each clamped to -10..35 dB
    double lsd = 0.0;       // dB, mean log-spectral distance over active 32 ms frames
    int activeFrames = 0;
    double gain = 1.0;         // least-squares gain of the decoded signal against the original
};

// The delay (0..maxDelay) at which the decoded signal best matches the original.
int FindDelay(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int maxDelay);

// The delay (0..maxDelay) at which the short-time amplitude envelopes (RMS
// over 128 samples) of the two signals correlate best: the alignment of
// parametric coders, whose waveforms do not follow the original's.
int FindEnvelopeDelay(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int maxDelay);

// The decoded signal scaled to the original's energy over the aligned overlap.
std::vector<int16_t> MatchEnergy(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int delay);

// Measures after removing `delay` samples from the front of the decoded signal;
// with matchLevel the decoded signal is first scaled by its least-squares gain
// (as perceptual measures align levels), which leaves the log-spectral distance
// free of a constant level offset too.
Measures Measure(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int delay,
                 bool matchLevel = false);

} // namespace vntr::train
