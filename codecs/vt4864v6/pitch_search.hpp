// Encoder analysis around the pitch: the input filter, open-loop pitch,
// harmonic noise weighting, the differential lag search and the 5-tap
// predictor search.
#pragma once

#include "rate_mode.hpp"
#include "tables.hpp"

namespace vntr::vt4864v6 {

// Input high-pass: x' = 0.87 x; y = x' - x'_prev + 0.98 y_prev, in place.
struct InputFilterState {
    float previousInput;  // scaled
    float previousOutput;
};
void InputFilter(InputFilterState &state, float *x, int length);

constexpr int kWeightedBuffer = 225; // weighted-speech history and the current sub-frame
constexpr int kOpenLoopHistory = 145;
constexpr int kOpenLoopMaxLag = 142;

// Open-loop lag (18..142) of the sub-frame that ends the weighted buffer.
//   in  cur [-kOpenLoopHistory .. length-1]
int OpenLoopPitch(const float *cur, int length);

struct HarmonicWeighting {
    int lag;     // -1 when off
    float gain;  // 0..0.3125
};

// Harmonic noise weighting around the open-loop lag; writes the target base
// t0(n) = x(n) - g x(n - d).
//   in  cur [-145 .. length-1]     out t0 [length]
HarmonicWeighting HarmonicNoiseWeighting(const float *cur, int length, int openLoopLag, float *t0);

// The best lag of the 16-lag window around the reference lag for a
// differentially coded sub-frame, pulled one step inside the window's edges.
// `alignment` is the first sample of the extended vector that is scored
// against the target.
//   in  past [kPastExcitation], target [length]
int DifferentialLagSearch(const float *past, const float *target, int length, int reference, int alignment);

// Correlations of the five filtered predictor views with the target and with
// each other: the statistics both the predictor search and its codebook
// training use.
struct PredictorStatistics {
    float c[kPredictorTaps];      // sum t y_j
    float e[kPredictorTaps];      // sum y_j^2
    float x[10];                  // sum y_j y_k, j > k, in the order (1,0) (2,0) (2,1) (3,0) ...
};

// y_j(n) = sum_{i<=n} h(i) v(n - i + j) for the five views j = 0..4, and their statistics.
//   in  v [length + 4], h [length], target [length]     out y [5][length]
PredictorStatistics FilterPredictorViews(const float *v, const float *h, const float *target, int length,
                                         float (*y)[kMaxSubframeLength]);

// The codebook entry with the largest score sum b c - 1/2 sum b^2 e - sum b_j b_k x
// (the entry 0 of all zeros scores 0; a strictly larger score replaces).
int SearchPredictor(const PredictorStatistics &stats, const PredictorCodebook &codebook = kPredictorCodebook);

// The score of one entry (used by the training and the tests).
float PredictorScore(const PredictorStatistics &stats, const PredictorCodebook &codebook, int entry);

} // namespace vntr::vt4864v6
