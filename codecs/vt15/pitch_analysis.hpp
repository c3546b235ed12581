// Pitch and band voicing of an active frame: the integer pitch on the
// 1000 Hz low-pass, the band-1 refinement, the final pitch with its checks
// against pitch doubling, the voicing of bands 2..5 from the band signals
// and their envelopes, and the running average pitch that stands in when no
// pitch can be trusted.
#pragma once

#include "analysis.hpp"
#include "record.hpp"

namespace vntr::vt15 {

constexpr float kMinAnalysisLag = 40.0f;

struct PitchVoicing {
    float integerPitch;    // of the search on the low-pass
    float pitch;           // final, samples
    float strength;        // normalised correlation at the final pitch
    float voicing[kBands]; // band strengths
};

// Three-entry history of trusted pitches; its median is the running average.
struct PitchAverage {
    float history[3];
};

void InitPitchAverage(PitchAverage &average);
float AveragePitch(const PitchAverage &average);
// A frame louder than 30 dB with a pitch correlation above 0.8 enters the
// history; otherwise every entry decays towards 50 (x = 0.95 x + 2.5).
void UpdatePitchAverage(PitchAverage &average, float pitch, float strength, float gain2);

// Steps from the integer search to the band voicing, around the analysis
// centre of the histories.  previousIntegerPitch is the last frame's integer
// pitch, the second candidate of the band-1 refinement.
PitchVoicing AnalysePitch(const SignalHistory &history, float previousIntegerPitch, float averagePitch);

// The band voicing of bands 2..5 at a pitch: the larger of the band's
// correlation and its envelope's less 0.1, each the best within `reach`
// samples of the pitch (0: at the pitch itself).
//   out voicing [kBands] (entry 0 untouched)
void BandVoicing(const SignalHistory &history, float pitch, float reach, float *voicing);

// The tuned encoder's pitch candidates of the frame at the analysis centre:
// the strongest peaks of the low-pass's normalised correlation over lags
// 20..160, each refined to a fraction of a sample (a pitch under 30 samples
// counted only as strongly as its multiple), and `described`, the described
// encoder's final pitch, always kept; pitches within 3 % of a stronger one
// are dropped.  Returns how many (1..maxCount) were written.
int PitchCandidates(const SignalHistory &history, float described, float reach, int maxCount, PitchCandidate *out);

// The final pitch from the band-1 pitch: refined on the low-pass, checked for
// submultiples, replaced by the running average when it is not periodic enough.
void FinalPitch(const float *lowPass, const float *speech, float band1Pitch, float averagePitch, float &pitch,
                float &strength);

} // namespace vntr::vt15
