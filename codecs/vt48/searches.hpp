// The encoder's closed-loop searches of one subframe in the weighted domain:
// the adaptive codebook (pitch lag and gain) and the three fixed codebooks,
// with the gain quantisers.
#pragma once

#include "constants.hpp"
#include "kernels.hpp"

#include <cstdint>

namespace vntr::vt48 {

// 0 for a gain at or below -0.897, otherwise the number of thresholds the gain reaches.
int QuantisePitchGain(float gain);
// Sign and magnitude: the last magnitude level whose threshold is reached, plus 16 when negative.
int QuantiseCodebookGain(float gain);

// y[n] = sum_{i<=n} h[i] x[n-i], n < length: x filtered by the weighted synthesis filter from rest.
void FilterByResponse(const float *h, const float *x, int length, float *y, Simd simd = Simd::Sse2);
// The same to the last bit, faster when x is mostly zeros (a few pulses).
void FilterSparseByResponse(const float *h, const float *x, int length, float *y);

struct LagRange {
    int lo;
    int hi;
};
// Subframe 0: the open-loop lag -5..+5; later subframes: the previous lag -7..+8;
// the ends held within 20..147.
LagRange FirstSubframeLags(int openLoopLag);
LagRange LaterSubframeLags(int previousLag);

struct AdaptiveResult {
    int lag;
    float gain;    // unquantised
    int gainIndex; // quantised
};
// The lag with the best (t.y)^2 / y.y, y the filtered history vector (the lower lag on a tie).
//   in history [148], target [length], h [length]     out filtered [length] (optional): y of the lag chosen
AdaptiveResult SearchAdaptive(const float *history, const float *target, const float *h, int length, LagRange range,
                              float *filtered = nullptr, Simd simd = Simd::Sse2);

enum class FixedKind : uint8_t { PulseTrain, EightPulses, SevenPulses };

struct FixedResult {
    int code;   // codebook index 0..255
    float gain; // the gain as coded (a pulse train's gain / 4), before quantisation
    int gainIndex;
    FixedKind kind;
    float score; // c^2 / E of the winner
};
// The three codebooks against t2 (the target less the filtered adaptive
// vector), in the order pulse train (skipped when quiet), eight pulses, seven
// pulses.  The pulse codebooks start from the signs of the backward-filtered
// target and flip each sign in turn, keeping a flip that beats the best score
// so far.  A winning gain of exactly 0 sends the silence code 65.
//   in t2 [length], h [length]
FixedResult SearchFixed(const float *t2, const float *h, int length, int lag, bool quiet, Simd simd = Simd::Sse2);

} // namespace vntr::vt48

namespace vntr::vt48 {

// y[n] += beta y[n - lag] in place, from the start: the decoder's pitch
// sharpening applied to a signal that starts from rest (it commutes with the
// weighted synthesis filter).
void Sharpen(float beta, int lag, int length, float *y);

// The pitch-sharpening factor the decoder uses with pitch gain gp.
float SharpeningFactor(float gp);

// The fixed codebooks searched in full: every pulse-train position and every
// sign pattern of the two pulse codebooks, each with its gain quantised,
// keeping the code whose quantised gain leaves the least weighted error.
// Quiet frames skip the pulse train as above.
//   in t2 [length], h [length]
FixedResult SearchFixedFull(const float *t2, const float *h, int length, int lag, bool quiet);

// The pitch and codebook gain indices that together leave the least weighted
// error |t - gp S(yv) - gc S(yc) - S(beta hp)|^2, where S is the sharpening
// with beta = SharpeningFactor(gp) (or nothing when `sharpened` is false), yv
// and yc are the filtered adaptive and fixed vectors (the fixed one with gain
// 1, a pulse train with its amplitude of 4) and hp the filtered smoothed
// history seen through the lag.
struct GainChoice {
    int pitchIndex;
    int codebookIndex;
};
// Only pitch gain indices within `reach` of `pitchIndex` are tried.
GainChoice SearchGains(const float *t, const float *yv, const float *yc, const float *hp, int lag, int length,
                       bool sharpened, int pitchIndex, int reach, Simd simd = Simd::Sse2);

} // namespace vntr::vt48
