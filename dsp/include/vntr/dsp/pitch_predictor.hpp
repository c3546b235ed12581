// The 5-tap pitch predictor of the CELP coders: the extended vector built
// from the past excitation, the predictor excitation, and the encoder's
// codebook search scored from correlations of the five filtered views
// instead of filtering every entry.
#pragma once

#include <vntr/dsp/simd.hpp>

namespace vntr::dsp {

constexpr int kPredictorEntries = 128;
constexpr int kPredictorTaps = 5;
constexpr int kPredictorMaxLength = 80; // longest sub-frame

// 128 entries of 5 taps (for lags T+2, T+1, T, T-1, T-2), double precision.
// Beside the taps the codebook carries the derived rows that make a search
// cost 20 multiply-adds per entry: b_j, -b_j^2/2 and the ten products -b_j b_k
// in the order (1,0) (2,0) (2,1) (3,0) (3,1) (3,2) (4,0) ... (4,3).
struct PredictorCodebook {
    double taps[kPredictorEntries][kPredictorTaps];
    float search[20][kPredictorEntries]; // row k: the k-th derived value of every entry
};

// Fills the derived rows from the taps.
constexpr void DerivePredictorSearch(PredictorCodebook &codebook) {
    for (int e = 0; e < kPredictorEntries; ++e) {
        const double *b = codebook.taps[e];
        int pair = 10;
        for (int j = 0; j < kPredictorTaps; ++j) {
            codebook.search[j][e] = static_cast<float>(b[j]);
            codebook.search[5 + j][e] = static_cast<float>(-0.5 * b[j] * b[j]);
        }
        for (int j = 1; j < kPredictorTaps; ++j) {
            for (int k = 0; k < j; ++k) codebook.search[pair++][e] = static_cast<float>(-b[j] * b[k]);
        }
    }
}

// The last `lag` past samples repeated, with the two samples beyond the lag
// in front: v[0] = x[-T-2], v[1] = x[-T-1], v[2 + m] = x[-T + (m mod T)] for
// m = 0..length+1, x[-1] being the newest past sample.
//   in  end: one past the newest sample, with lag + 2 samples before it
//   out v [length + 4]
void BuildExtendedVector(const float *end, int lag, int length, float *v);

// e(n) = sum_j b_j v(n + j) with predictor entry `entry` (its low 7 bits),
// summed in double precision, from +0 with tap 0 first.  With Simd::Avx2
// (only where the processor has it) four outputs a register; the same to the bit.
//   in  end as above     out e [length]
void BuildPitchExcitation(const float *end, int lag, int entry, int length, const PredictorCodebook &codebook, float *e,
                          Simd simd = Simd::Plain);

// Largest magnitude an excitation sample may take.  Real speech stays far
// below it; it keeps a damaged stream (predictor gains above 1 chosen frame
// after frame) from driving the past excitation to infinity.
constexpr float kExcitationLimit = 131072.0f;

// Holds every sample within +-kExcitationLimit (a NaN becomes 0).
void LimitExcitation(float *e, int length);

// Correlations of the five filtered predictor views with the target and with
// each other: all a search (or a codebook's training) needs.
struct PredictorStatistics {
    float c[kPredictorTaps]; // sum t y_j
    float e[kPredictorTaps]; // sum y_j^2
    float x[10];             // sum y_j y_k, j > k, in the order (1,0) (2,0) (2,1) (3,0) ...
};

// y_j(n) = sum_{i<=n} h(i) v(n - i + j) for the five views j = 0..4, and their statistics.
//   in  v [length + 4], h [length], target [length]     out y [5][length]
PredictorStatistics FilterPredictorViews(const float *v, const float *h, const float *target, int length,
                                         float (*y)[kPredictorMaxLength]);

// The score sum b c - 1/2 sum b^2 e - sum b_j b_k x of every entry: half the
// drop in squared error that the entry's prediction brings.
//   out scores [kPredictorEntries]
void PredictorScores(const PredictorStatistics &stats, const PredictorCodebook &codebook, float *scores);

// The score of one entry.
float PredictorScore(const PredictorStatistics &stats, const PredictorCodebook &codebook, int entry);

// The entry with the largest score (entry 0, all zeros, scores 0; a strictly
// larger score replaces, from -3e38).
int SearchPredictor(const PredictorStatistics &stats, const PredictorCodebook &codebook);

} // namespace vntr::dsp
