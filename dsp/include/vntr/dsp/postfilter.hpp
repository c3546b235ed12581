// The adaptive post-filter of the CELP decoders, one sub-frame at a time:
// the residual through A(z/0.55), a pitch post-filter with 1/8-sample
// resolution on that residual, the formant filter 1/A(z/0.7) with its gain
// normalisation, spectral tilt compensation, and the automatic gain control
// that restores the level of the unfiltered synthesis.
#pragma once

#include <vntr/dsp/simd.hpp>

namespace vntr::dsp {

constexpr int kPostOrder = 10;
constexpr int kPostMaxSubframe = 80;
// Residual history: a decoded lag up to 146 is searched up to 147, its first
// fractional candidate lies at 148 - 1/8 samples, and the 16-tap rebuild of
// that candidate reaches 7 samples further.
constexpr int kPostMaxLag = 146;
constexpr int kPostResidualHistory = kPostMaxLag + 2 + 7;
constexpr int kPostMaxTiltResponse = 32;
// The residual is written on along a longer buffer and moved back to its
// start only when the next sub-frame would not fit, not after every one.
constexpr int kPostResidualBuffer = kPostResidualHistory + 8 * kPostMaxSubframe;

// Fractional-delay filters of phases 1..7 (a delay of p/8 sample, row p - 1).
struct FractionalDelayFilters {
    const float (*four)[4];
    const float (*sixteen)[16];
};

// Where the coders draw the line of the pitch post-filter's final test at
// exact equality: with EnergyInclusive a delayed energy of exactly 0.1 passes
// and c^2 must exceed E0 E / 2; with RatioInclusive the delayed energy must
// exceed 0.1 and c^2 = E0 E / 2 passes.
enum class PitchGateEdges { EnergyInclusive, RatioInclusive };

struct PostFilterConfig {
    FractionalDelayFilters delays;
    int tiltResponseLength; // samples of the impulse response of A(z/0.55)/A(z/0.7) (<= kPostMaxTiltResponse)
    PitchGateEdges gate;
};

struct PostFilterState {
    float residual[kPostResidualBuffer]; // formant-filter residual, newest at residualEnd - 1
    int residualEnd;                     // kPostResidualHistory .. kPostResidualBuffer
    float speech[kPostOrder];            // last synthesised samples, newest last
    float formant[kPostOrder];           // all-pole memory, newest last (also the tilt filter's input)
    float gain;                          // gain-control factor
    Simd simd;                           // the pitch candidates' kernels (the same results for all)
};

// All zero, gain 1; the pitch candidates' kernels chosen for this processor.
void ResetPostFilter(PostFilterState &state);

// The pitch post-filter of one sub-frame on the residual r, decoded lag
// 18..kPostMaxLag:
//  1. off (out = r) when the sub-frame's energy E0 is below 0.1;
//  2. the integer lag t of the largest correlation among lag-1, lag, lag+1
//     (a later one only when strictly larger); off when that correlation is
//     not positive or the delayed energy is below 0.1;
//  3. the 4-tap filters of phases 1..7 give two candidates each, delays
//     t + 1 - p/8 and t - p/8, compared by c^2/E with negative correlations
//     clipped to 0, starting from the integer lag; strictly better replaces;
//  4. off unless the best c is non-zero and passes the energy and ratio tests
//     (edges as the config says);
//  5. a fractional winner is rebuilt with the 16-tap filter of its phase and
//     that version is kept when it scores strictly better;
//  6. out = beta r + (1 - beta) delayed with beta = 2/3 when c > E, else
//     1 / (1 + c/(2E)).
//   in  r [-kPostResidualHistory .. length-1]     out out [length]
void PitchPostFilter(const float *r, int lag, int length, const PostFilterConfig &config, float *out);

// Step 3's candidates at integer lag t, each delay's correlation with the
// sub-frame (clipped to 0 when negative) and its energy: out[p - 1][0] of
// delay t + 1 - p/8, out[p - 1][1] of t - p/8, made four lanes wide or, with
// Simd::Avx2 (only where the processor has it), eight; both the same to the bit.
//   in  r [-(t + 3) .. length]
struct PitchCandidate {
    double k;
    double e;
};
void FractionalPitchCandidates(Simd simd, const float *r, int t, int length, const FractionalDelayFilters &delays,
                               PitchCandidate (*out)[2]);

// Post-filters one sub-frame of synthesised speech with its decoded lag and
// LPC set, carrying the filter memories and the gain in the state.
//   in  speech [length], lpc [kPostOrder]     out out [length] (may not alias speech)
void PostFilterSubframe(PostFilterState &state, const float *speech, int lag, const float *lpc, int length,
                        const PostFilterConfig &config, float *out);

// What the post-filter derives from a sub-frame's LPC set alone: the
// residual filter A(z/0.55), the formant filter 1/A(z/0.7), and from the
// impulse response of the two the tilt and the gain normalisation.
struct PostFilterShape {
    float num[kPostOrder];
    float den[kPostOrder];
    float tilt;   // -r1/r0 of the response (0 unless 0 < |r1| <= r0... as the filter takes it)
    float sumAbs; // sum of |h|
};
void PostFilterShapeOf(const float *lpc, const PostFilterConfig &config, PostFilterShape &shape);

// The shapes of two sets at once, their impulse responses and sums side by
// side in two lanes: each the same to the bit as PostFilterShapeOf gives it.
void PostFilterShapePair(const float *lpc0, const float *lpc1, const PostFilterConfig &config, PostFilterShape &shape0,
                         PostFilterShape &shape1);

// PostFilterSubframe with the sub-frame's shape made beforehand.
void PostFilterSubframe(PostFilterState &state, const float *speech, int lag, const PostFilterShape &shape, int length,
                        const PostFilterConfig &config, float *out);

} // namespace vntr::dsp
