// The fixed-codebook search: seven signed pulses of one amplitude on the
// chained position structure, found by a depth-first walk of the position
// tree with partial-correlation thresholds at pulses 3, 4 and 5 and two
// per-frame budgets of deep expansions; then the 5-bit pulse gain.
#pragma once

#include "rate_mode.hpp"

#include <cstdint>

namespace vntr::vt4864v6 {

// Deep-expansion budgets, reset to 30 per frame and grown by 40 and 60 per sub-frame.
struct PulseBudgets {
    int level4;
    int level5;
};
constexpr int kBudgetPerFrame = 30;
constexpr int kBudget4PerSubframe = 40;
constexpr int kBudget5PerSubframe = 60;

struct PulseChoice {
    uint16_t signs;     // bit i set when pulse i+1 is positive
    uint16_t positions; // grid index, then the six 2-bit step choices
    int position[kPulses];
    float sign[kPulses]; // +1 or -1
    bool scored;         // false when no path passed the thresholds
    // How the search scored the chosen path: the sum of the sign-corrected
    // backward-filtered target at the pulses, and the energy the pair table
    // gives the pulses (0 when nothing was scored).
    float correlation;
    float energy;
};

// Searches one sub-frame.  Writes the unit-amplitude pulse vector c and its
// filtered version f = h * c.
//   in  target [L] (pitch contribution removed), h [L]     out c [L], f [L]
PulseChoice SearchPulses(const float *target, const float *h, const RateMode &mode, PulseBudgets &budgets, float *c,
                         float *f);

// Index of the table amplitude nearest to the optimal gain K/E (0 when K <= 0).
int QuantisePulseGain(const float *target, const float *f, int length);

} // namespace vntr::vt4864v6
