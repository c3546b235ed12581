// The encoder's description of one frame, from analysis to the coded fields.
#pragma once

#include "frame_classes.hpp"

namespace vntr::vt15 {

constexpr int kMaxPitchCandidates = 6;
constexpr int kContourPoints = 6;

// A pitch the tuned encoder's tracker may choose for a frame, with the
// strength it has on the low-pass and the band voicing it gives.
struct PitchCandidate {
    float pitch;
    float strength;
    float voicing[kBands]; // bands 2..5 as analysed at this pitch (entry 0 unused)
    float gain[2];         // dB, measured over multiples of this pitch when the frame is voiced
};

struct FrameRecord {
    // Analysis (and smoothing).
    float pitch;           // samples
    float averagePitch;    // the running average when the frame was analysed
    float pitchStrength;   // correlation at the final pitch
    float integerPitch;    // of the low-pass search (0 when not searched)
    float voicing[kBands]; // band strengths; 0 or 1 once smoothed or quantised
    float jitter;
    float gain[2]; // dB
    float lsf[kOrder];
    bool active;
    // The tuned encoder's short-time levels (dB) over the span the frame's
    // gains shape in the decoder, every 30 samples up to the analysis centre.
    float contour[kContourPoints];
    // The tuned encoder's pitch candidates (none for the described encoder).
    PitchCandidate candidates[kMaxPitchCandidates];
    int candidateCount;

    // Quantisation.
    int frameClass;
    int pitchIndex;
    int pattern;
    int jitterIndex;
    int gain1Index;
    int gain2Index;
    float quantisedLsf[kOrder]; // as the decoder rebuilds it
};

// Band 1 above 0.6.
inline bool IsVoiced(const FrameRecord &r) {
    return r.voicing[0] > 0.6f;
}

// The records both sides start from: pitch 50, unvoiced, gains 10 dB, LSF
// pi k / 11, inactive, gain indices 0, class 5, pitch index 28.
void InitRecord(FrameRecord &record);

} // namespace vntr::vt15
