// Objective quality of a decoded file against the input it was coded from.
//
// The decoded signal is first aligned to the input: the codec's delay is the
// lag (0 to 250 ms) that maximises the cross-correlation of the two.  Over
// the aligned overlap:
//  - SNR: input energy over error energy, in dB;
//  - segmental SNR: the mean over 20 ms frames of the frame SNR, each clamped
//    to -10..35 dB, over frames whose input energy is within 40 dB of the
//    loudest frame (silence would dominate it otherwise);
//  - log-spectral distance: the RMS over frequency of the difference of the
//    two log power spectra (Hann-windowed frames of about 32 ms, half
//    overlapped, spectra floored at the 16-bit quantisation noise), averaged
//    over the same active frames, in dB.
#pragma once

#include "codec_slot.hpp"

#include <span>
#include <string>
#include <vector>

namespace vntr::evaluator {

// Reads a PCM wave file as mono samples on the 16-bit scale (8-bit samples
// are centred and scaled, stereo channels averaged).  False when the file is
// not a readable PCM wave.
bool ReadWaveSamples(const std::string &path, std::vector<float> &samples, int &sampleRate);

// The lag of `decoded` behind `reference` in 0..maxLag that maximises their
// cross-correlation.
int FindDelay(std::span<const float> reference, std::span<const float> decoded, int maxLag);

Quality CompareSignals(std::span<const float> reference, std::span<const float> decoded, int sampleRate);

// Reads both files and compares them; invalid when either cannot be read or
// their rates differ.
Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath);

} // namespace vntr::evaluator
