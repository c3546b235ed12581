// Constant tables of VT120.  The trained and designed ones (LSP stages,
// pitch-predictor codebook, 16-tap fractional-delay filters) are generated
// by the tools in tools/train/vt120; each generated file names the command
// that made it.
#pragma once

#include "constants.hpp"

#include <vntr/dsp/msvq.hpp>
#include <vntr/dsp/pitch_predictor.hpp>

namespace vntr::vt120 {

// --- LPC analysis ---
// First half of the symmetric 180-sample Hamming window 0.54 - 0.46 cos(2 pi n / 179).
constexpr int kAnalysisWindow = 180;
extern const float kHammingHalf[kAnalysisWindow / 2];
// Lag window of the autocorrelations 1..10.
extern const float kLagWindow[kOrder];

// --- LSP quantiser ---
// Stage s, vector i, component k at kLspStages[s][i * kOrder + k] (radians):
// stage 1 holds whole LSP vectors, stages 2..4 corrections added to them.
extern const float kLspCodebook[kLspStages][kLspStageSize * kOrder];
// The same stages laid out component by component, as the search reads them.
using LspColumnLayout = dsp::MsvqColumnLayout<kOrder, kLspStageSize, kLspStages>;
extern const LspColumnLayout kLspColumns;
// Smallest gap below LSP k (entry 0 unused): 0.06, 0.08 and 0.1 rad in the
// low, middle and high band.
extern const float kMinimumLspGap[kOrder];

// --- Excitation ---
// 128 entries of 5 taps (lags T+2 .. T-2) with the search's derived rows;
// entry 0 is all zeros.
extern const dsp::PredictorCodebook kPredictorCodebook;
// Offsets of pulses 1..3 from the pulse before them: 1 + 4 m.
extern const int kPulseOffset[8];
// The 32 pulse amplitudes.
extern const float kAmplitude[kAmplitudeLevels];

// --- Post-filter: fractional delays of p/8 sample, p = 1..7 (row p - 1) ---
extern const float kInterp4[7][4];
extern const float kInterp16[7][16];

} // namespace vntr::vt120
