// The exhaustive pulse search of the tuned encoder (VT4864 HQ): every path of
// the chained position tree, scored with the exact correlations of the
// filtered pulses, each pulse signed by the backward-filtered target at its
// own sample.  The described search (pulse_search.hpp) scores pulses by the
// pair table and walks only the paths its thresholds and budgets let through.
//
// R(a, b) = sign(a) sign(b) sum_n h(n - a) h(n - b) over the sub-frame; the
// walk keeps, for pulses 1..3 placed, their energy, their correlation and the
// cross vector C3(x) = sum over them of R(p_i, x).  Under one node of pulse 4
// at p4 lie 64 leaves: pulse 5 at p5 (four children), then l, one of the 16
// ways on to pulse 6 at p6 and pulse 7 at p7 = p6 + step_k (mod L):
//   C4(x) = C3(x) + R(p4, x),     e4 = (e3 + R(p4, p4)) + 2 C3(p4),
//   e = ((e4 + 2 C4(p5)) + q(l)) + 2 ((C3(p6) + C3(p7)) + (R(p4, p6) + R(p4, p7))),
//   s = s4 + a(l),
// where q(l) = R55 + R66 + R77 + 2 (R56 + R57 + R67) and a(l) = |d(p5)| +
// |d(p6)| + |d(p7)| are the same for every path through p5 (a table per p5),
// R(p4, p6) + R(p4, p7) the same for every path through p4 (a table per p4),
// and C3(p6) + C3(p7) is made once per node of pulse 3 for every p6 and k.
// Every sum is written in this order in both kernels, so the plain and the
// vectorised search choose the same path to the last bit.
#pragma once

#include "rate_mode.hpp"

#include <vntr/dsp/simd.hpp>

#include <cstdint>

namespace vntr::vt4864v6 {

constexpr int kLeaves = 16;  // the pulse-6 and pulse-7 choices under one position of pulse 5
constexpr int kChildren = 4; // the pulse-5 choices under one node of pulse 4
// Rows and cross vectors hold x mod L for x < kWrapped, so that a position
// plus a step, or a block of eight beyond the end, reads without a wrap.
constexpr int kWrapped = 2 * kMaxSubframeLength + 8;
// Step pairs: v(4 x + k) = w(x) + w(x + step_k) for x < L, rounded up to eight positions.
constexpr int kStepPairs = 4 * (kMaxSubframeLength + 8);

// The best path so far: a candidate replaces it when e > 0 and s^2 E > S^2 e
// (strictly, in the walk's order).
struct TreeBest {
    float s = 0.0f;
    float s2 = 0.0f;
    float e = 1.0f;
};

// What the leaves under one position p5 of pulse 5 read, the same for every
// path through it: leaf l = 4 j + k takes pulse 6 choice j and pulse 7 choice
// k; p6(l) is the pulse-6 position of leaf l; q and a as above.
struct LeafBlock {
    int32_t p5;
    int32_t p6[kLeaves];
    float q[kLeaves];
    float a[kLeaves];
};

// What the leaves under one node of pulse 4 read beside their blocks.
struct NodeView {
    const float *c3;     // [kWrapped] cross vector of pulses 1..3
    const float *r4;     // [kWrapped] R(p4, x)
    const float *pairs3; // [kStepPairs] step pairs of c3
    const float *pairs4; // [kStepPairs] step pairs of r4
    float e4;
    float s4;
};

// Scores the 64 leaves under one node of pulse 4 (children[i] the block of its
// pulse-5 choice i) in order against `best`; returns the last leaf that
// replaced it, as kLeaves * i + l, or -1.
int ScoreLeaves(const LeafBlock *const *children, const NodeView &node, TreeBest &best);

// Step pairs v(4 x + k) = w(x) + w(x + steps[k]) for x < length rounded up to 8.
//   in  w [kWrapped] (wrapped), steps [4]     out v [kStepPairs]
void StepPairs(const float *w, const uint8_t *steps, int length, float *v);

// out(x) = in(x) + row(x) for x < count: the cross vector of one more pulse.
void AddRow(const float *in, const float *row, float *out, int count);

#if defined(VNTR_SIMD_AVX2)
// The kernels above with eight values a register (pulse_tree_avx2.cpp); call
// only when dsp::DetectSimd() gives Simd::Avx2.  All give the same choices to
// the last bit.
namespace avx2 {
int ScoreLeaves(const LeafBlock *const *children, const NodeView &node, TreeBest &best);
void StepPairs(const float *w, const uint8_t *steps, int length, float *v);
void AddRow(const float *in, const float *row, float *out, int count);
} // namespace avx2
#endif

// The signed correlations of the filtered unit pulses of a sub-frame, row a
// at a * kWrapped holding R(a, x mod L) for x < kWrapped.
//   in  h [length], sign [length] (+1 or -1)     out r [length x kWrapped]
void PulseCorrelations(const float *h, const float *sign, int length, float *r);

struct PulseChoice;
// The exhaustive search of one sub-frame; writes the unit-amplitude pulse
// vector c and its filtered version f = h * c, as SearchPulses does.
//   in  target [L] (pitch contribution removed), h [L]     out c [L], f [L]
PulseChoice SearchPulsesExhaustive(const float *target, const float *h, const RateMode &mode, dsp::Simd simd, float *c,
                                   float *f);

} // namespace vntr::vt4864v6
