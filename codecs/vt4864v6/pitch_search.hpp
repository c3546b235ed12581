// Encoder analysis around the pitch: the input filter, open-loop pitch,
// harmonic noise weighting, the differential lag search and the 5-tap
// predictor search.
#pragma once

#include "rate_mode.hpp"
#include "tables.hpp"

#include <vntr/dsp/pitch_analysis.hpp>
#include <vntr/dsp/pitch_predictor.hpp>

namespace vntr::vt4864v6 {

// Input high-pass: x' = 0.87 x; y = x' - x'_prev + 0.98 y_prev, in place.
struct InputFilterState {
    float previousInput; // scaled
    float previousOutput;
};
void InputFilter(InputFilterState &state, float *x, int length);

constexpr int kWeightedBuffer = 225; // weighted-speech history and the current sub-frame
constexpr int kOpenLoopHistory = 145;
constexpr int kOpenLoopMaxLag = 142;

// Open-loop lag (18..142) of the sub-frame that ends the weighted buffer.
//   in  cur [-kOpenLoopHistory .. length-1]
int OpenLoopPitch(const float *cur, int length);

// Harmonic noise weighting around the open-loop lag; writes the target base
// t0(n) = x(n) - g x(n - d).
using dsp::HarmonicNoiseWeighting;
using dsp::HarmonicWeighting;

// The best lag of the 16-lag window around the reference lag for a
// differentially coded sub-frame, pulled one step inside the window's edges.
// A candidate lag T is scored by the first `length` samples of its extended
// vector (the samples the predictor's first tap, at lag T + 2, reads) against
// the target, K^2/E without filtering.
//   in  past [kPastExcitation], target [length]
int DifferentialLagSearch(const float *past, const float *target, int length, int reference);

// The statistics of the five filtered predictor views that the predictor
// search and its codebook training use.
using dsp::FilterPredictorViews;
using dsp::PredictorStatistics;
static_assert(dsp::kPredictorMaxLength == kMaxSubframeLength);

// The entry of the built-in codebook with the largest score sum b c -
// 1/2 sum b^2 e - sum b_j b_k x (the entry 0 of all zeros scores 0; a
// strictly larger score replaces); dsp::SearchPredictor searches any codebook.
int SearchPredictor(const PredictorStatistics &stats);

// The score of one entry (used by the training and the tests).
using dsp::PredictorScore;

} // namespace vntr::vt4864v6
