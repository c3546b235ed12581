// The exhaustive pulse search of the tuned encoder (VT4864 HQ): every path of
// the chained position tree, scored with the exact correlations of the
// filtered pulses, each pulse signed by the backward-filtered target at its
// own sample.  The described search (pulse_search.hpp) scores pulses by the
// pair table and walks only the paths its thresholds and budgets let through.
//
// The walk keeps, for the pulses placed, their energy e, their correlation s
// and the cross vector C(q) = sum over placed pulses i of R(p_i, q), where
// R(a, b) = sign(a) sign(b) sum_n h(n - a) h(n - b) over the sub-frame.  The
// last two pulses under one position of pulse 5 are the 16 leaves of one
// block, scored by a kernel:
//   e = (e5 + q(l)) + 2 (C5(p6) + C5(p7)),   s = s5 + a(l),
// q(l) = R(p6, p6) + R(p7, p7) + 2 R(p6, p7) and a(l) = |d(p6)| + |d(p7)| being
// the same for every path through that position.
#pragma once

#include "rate_mode.hpp"

#include <cstdint>

namespace vntr::vt4864v6 {

constexpr int kLeaves = 16; // the pulse-6 and pulse-7 choices under one position of pulse 5

// The best path so far: a candidate replaces it when e > 0 and s^2 E > S^2 e
// (strictly, in the walk's order).
struct TreeBest {
    float s = 0.0f;
    float s2 = 0.0f;
    float e = 1.0f;
};

// What the leaves under one position of pulse 5 read, the same for every path
// through it: positions of pulse 6 (i6, 4) and of pulse 7 (i7, 16, leaf
// l = 4 j + k takes pulse 6 choice j and pulse 7 choice k), q and a (16 each).
struct LeafBlock {
    int32_t i6[4];
    int32_t i7[kLeaves];
    float q[kLeaves];
    float a[kLeaves];
};

// Scores the 16 leaves of one block in leaf order against `best`; returns the
// last leaf that replaced it, or -1.
//   in  c5 [L] the cross vector of pulses 1..5
int ScoreLeaves(const LeafBlock &block, const float *c5, float e5, float s5, TreeBest &best);

// The widest vector unit the kernel may use; both give the same choices to the last bit.
enum class TreeSimd : uint8_t { Plain, Avx2 };
TreeSimd DetectTreeSimd();

namespace avx2 {
// ScoreLeaves with eight leaves a register; call only when DetectTreeSimd() gives Avx2.
int ScoreLeaves(const LeafBlock &block, const float *c5, float e5, float s5, TreeBest &best);
} // namespace avx2

inline int ScoreLeaves(const LeafBlock &block, const float *c5, float e5, float s5, TreeBest &best, TreeSimd simd) {
    return simd == TreeSimd::Avx2 ? avx2::ScoreLeaves(block, c5, e5, s5, best) : ScoreLeaves(block, c5, e5, s5, best);
}

// The signed correlations R(a, b) of the filtered unit pulses of a sub-frame,
// row a at a * kMaxSubframeLength.
//   in  h [length], sign [length] (+1 or -1)     out r [length x kMaxSubframeLength]
void PulseCorrelations(const float *h, const float *sign, int length, float *r);

struct PulseChoice;
// The exhaustive search of one sub-frame; writes the unit-amplitude pulse
// vector c and its filtered version f = h * c, as SearchPulses does.
//   in  target [L] (pitch contribution removed), h [L]     out c [L], f [L]
PulseChoice SearchPulsesExhaustive(const float *target, const float *h, const RateMode &mode, TreeSimd simd,
                                   float *c, float *f);

} // namespace vntr::vt4864v6
