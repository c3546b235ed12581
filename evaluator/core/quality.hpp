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
//    overlapped), averaged over the same active frames, in dB.  Both spectra
//    of a frame are floored 50 dB below the reference frame's peak: what
//    lies deeper is inaudible beside the formants, so a band that a coder
//    leaves empty costs little while a misplaced formant costs much.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vntr::evaluator {

// Objective quality of a decoded file against the input it was coded from.
struct Quality {
    bool valid = false;
    int32_t delaySamples = 0;   // decoded lags the input by this many samples
    uint32_t comparedSamples = 0;
    double snrDb = 0;           // whole-file signal-to-noise ratio
    double segmentalSnrDb = 0;  // mean of per-frame SNRs (20 ms frames, clamped to -10..35 dB)
    double logSpectralDistanceDb = 0;
    double gain = 1;            // least-squares gain of the aligned decoded signal against the input
};

// How to compare.  The evaluator uses the defaults; the measuring tool can
// impose a known delay or level the decoded signal first.
struct CompareOptions {
    int delay = -1;          // >= 0: the decoded signal's known lag; otherwise found
    int maxDelay = -1;       // the largest lag searched; < 0: a quarter of a second
    bool matchLevel = false; // scale the decoded signal by its least-squares gain before measuring
};

// Reads a PCM wave file as mono samples on the 16-bit scale (8-bit samples
// are centred and scaled, stereo channels averaged).  False when the file is
// not a readable PCM wave.
bool ReadWaveSamples(const std::string &path, std::vector<float> &samples, int &sampleRate);

// The lag of `decoded` behind `reference` in 0..maxLag that maximises their
// cross-correlation.
int FindDelay(std::span<const float> reference, std::span<const float> decoded, int maxLag);

// The log-spectral distance of one frame, in dB: the RMS over bins of the
// difference of the two log power spectra, each bin held at least 50 dB
// below the reference frame's strongest bin.
double FrameSpectralDistance(std::span<const double> referencePower, std::span<const double> decodedPower);

Quality CompareSignals(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                       const CompareOptions &options = {});

// Reads both files and compares them; invalid when either cannot be read or
// their rates differ.
Quality MeasureQuality(const std::string &referencePath, const std::string &decodedPath);

} // namespace vntr::evaluator
