// The excitation of one subframe, built the same way by the encoder and the
// decoder so that their histories stay equal bit for bit: the adaptive
// contribution from the history, the three kinds of fixed contribution, and
// the decoder's pitch sharpening.
#pragma once

#include "constants.hpp"
#include "tables.hpp"

#include <cstdint>

namespace vntr::vt48 {

// Codebook index ranges.
constexpr int kPulseTrainCodes = 64; // 0..63: one pulse at the index, repeated at the lag
constexpr int kSevenPulseBase = 64;  // 64..127: seven pulses at 3, 11, ..., 51
constexpr int kEightPulseBase = 128; // 128..255: eight pulses at 0, 7, ..., 49
constexpr int kSevenPulses = 7;
constexpr int kEightPulses = 8;
constexpr int kSevenPulseFirst = 3, kSevenPulseSpacing = 8;
constexpr int kEightPulseFirst = 0, kEightPulseSpacing = 7;
constexpr float kPulseTrainScale = 4.0f; // a pulse train's amplitude is 4 times the coded gain

// Excitation samples are held within this bound.  Coded speech stays far
// below it; a damaged stream that repeats the largest pitch gain (1.55)
// would otherwise grow the history without bound until it overflows.
constexpr float kExcitationLimit = 1048576.0f;

inline float PitchGainValue(int index) {
    return kPitchGain[index & 15];
} // index 0..15
// 0..15 positive, 16..31 negative.
inline float CodebookGainValue(int index) {
    const float magnitude = kCodebookGainMagnitude[index & 15];
    return (index & 16) != 0 ? -magnitude : magnitude;
}

// out[n] = history[148 - lag + n]; for a lag shorter than the subframe the
// last `lag` samples repeat with period `lag`.  lag in 1..147.
void AdaptiveVector(const float *history, int lag, int length, float *out);

// Adds the fixed contribution of codebook index `code` with gain `gain` to e.
void AddFixedContribution(int code, float gain, int lag, int length, float *e);

// Pulse signs of a seven- or eight-pulse code (+1 or -1 each; the first is always +1).
int PulseSigns(int code, int8_t *signs);

// e = gp v + fixed, appended to the history (shifted left by the length).
//   in/out history [148]     in v [length] (the adaptive vector)     out e [length]
void BuildExcitation(float *history, const float *v, float gp, int code, float gc, int lag, int length, float *e);

// The decoder's pitch sharpening, in place on e: beta = 0.35 gp (gp held to
// -1..1); e[n] += beta smoothed[148 - lag + n] for n < lag, beta e[n - lag]
// (already sharpened) after; e is then appended to the smoothed history.
void SharpenPitch(float *smoothed, float gp, int lag, int length, float *e);

// Appends `length` samples to a 148-sample history (shifting it left).
void AppendHistory(float *history, const float *e, int length);

} // namespace vntr::vt48
