// The voice-activity detector: one decision per analysed frame from the
// frame's energies, zero-crossing rate, second reflection coefficient and
// distance of its LSF from the running background average.  A learning
// phase of 32 frames sets the averages; afterwards they follow frames that
// look like background, and the tracked energy minimum keeps them honest.
#pragma once

#include "frame_classes.hpp"

#include <cstdint>

namespace vntr::vt15 {

constexpr int kVadMinima = 16;

struct VadFeatures {
    float fullEnergy;   // Ef, dB
    float lowEnergy;    // El, dB
    float zeroCrossing; // ZC, crossings per sample
    float k2;           // second reflection coefficient
    float lsf[kOrder];
};

struct VadState {
    uint32_t frame; // n of the last frame decided
    float meanLsf[kOrder];
    float meanEnergy;
    float meanBackgroundEnergy;    // MeanSE
    float meanBackgroundLowEnergy; // MeanSLE
    float meanZeroCrossing;        // MeanSZC
    float minimum;
    float previousMinimum;
    float nextMinimum;
    float minima[kVadMinima];
    float previousEnergy;
    int silentCount;
    int updateCount;
    int extensionCount;
    bool extensionAllowed;
    bool previousDecision;
    bool decisionBefore;
    float lowPassMemory[6]; // x[n-1..n-3], y[n-1..n-3] of the low-band filter
};

void InitVad(VadState &state);

// The features of one frame from its 200 windowed samples, their
// autocorrelation r(0..10) and its LSF.  The low-band filter runs over a
// copy of the windowed samples, its memory carried from frame to frame.
VadFeatures VadMeasure(VadState &state, const float *windowed, const float *autocorrelation, const float *lsf);

// True when the frame is active.
bool VadDecide(VadState &state, const VadFeatures &features);

} // namespace vntr::vt15
