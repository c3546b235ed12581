// Closed-loop training of a 5-tap pitch-predictor codebook (dsp/pitch_predictor.hpp).
//
// For a sub-frame with target t and the five filtered views y_j of the
// extended excitation vector at a lag, entry b leaves the weighted error
// |t - sum_j b_j y_j|^2 = |t|^2 - 2 b.c + b'Rb, with c_j = t.y_j and
// R_jk = y_j.y_k.  The encoders' search maximises b.c - b'Rb/2, i.e.
// minimises exactly this error, so the centroid of a cell is the b that
// minimises the summed error of its members: (sum R) b = sum c.  A codec's
// training tool gathers the statistics of every sub-frame by encoding its
// corpus with the current codebook and runs these Lloyd steps on them.
#pragma once

#include <vntr/dsp/pitch_predictor.hpp>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace vntr::train {

constexpr int kMaxPredictorCandidates = 3;

// One sub-frame as the encoder searched it: the statistics of each candidate
// lag, in the order the encoder visits them within an entry.
struct PredictorObservation {
    std::array<dsp::PredictorStatistics, kMaxPredictorCandidates> stats;
    int candidates = 1;
    float targetEnergy = 0.0f;
};

// How centroids are found.  Cells with fewer than minMembers members are
// reseeded: their statistics cannot pin five strongly correlated taps down.
// ridge adds ridge * diag(R) to a cell's summed R before solving.  With
// constrain, every entry is held to a tap sum within tapSumLow..tapSumHigh and
// taps of at most tapLimit in magnitude.  Fixed entries are never moved.
struct PredictorTrainingRules {
    std::vector<int> fixed;
    int minMembers = 10;
    double ridge = 1e-6;
    bool constrain = true;
    double tapSumLow = -0.80;
    double tapSumHigh = 1.86;
    double tapLimit = 1.5;

    bool IsFixed(int entry) const;
    bool WithinRange(const double *taps) const;
};

// The error an entry leaves on one candidate's statistics, relative to no prediction.
double PredictorErrorChange(const dsp::PredictorStatistics &stats, const double *taps);

struct PredictorLloydResult {
    double gainDb;  // prediction gain over all observations
    int emptyCells; // cells reseeded
};

// One assignment (the encoder's search over the candidates and the entries
// below `count`, plus the fixed ones) and, with update, one centroid step.
PredictorLloydResult PredictorLloyd(const std::vector<PredictorObservation> &obs, dsp::PredictorCodebook &book,
                                    int count, const PredictorTrainingRules &rules, std::mt19937 &rng, bool update);

// Pulls any free entry that left the range back towards zero.
void EnforcePredictorRange(dsp::PredictorCodebook &book, const PredictorTrainingRules &rules);

// "tap sums a .. b, largest tap c" over the whole codebook.
std::string PredictorRanges(const dsp::PredictorCodebook &book);

} // namespace vntr::train
