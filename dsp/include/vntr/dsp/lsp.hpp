// Conversion between LPC coefficients and line spectrum pairs (LSP
// frequencies in radians, ascending, 0..pi) for an even order.
#pragma once

#include <numbers>

namespace vntr::dsp {

constexpr int kMaxLspOrder = 16;

// LPC to LSP.  The sum and difference polynomials, with their trivial roots at
// z = -1 and z = 1 removed, are expanded in Chebyshev form in x = cos(w); their
// roots are found largest x first, alternating between the two polynomials:
// ten damped Newton steps (x += d (1 - 3d), d = -F/F') from the previous root,
// then synthetic division by the root found.  The last quadratic of each is
// solved in closed form (a negative discriminant gives two roots at x = 0).
// Arithmetic is in double precision.
// Ten steps resolve the roots of orders up to 12; beyond that closely spaced
// low roots need more.
//   in  a [order] (order even, 4..12)     out lsp [order]
void LpcToLsp(const float *a, int order, float *lsp);

// LSP to LPC: P(z) = prod over odd-numbered LSPs (1 - 2 cos(w) z^-1 + z^-2),
// Q(z) over the even-numbered ones, A(z) = (P(z)(1 + z^-1) + Q(z)(1 - z^-1))/2.
//   in  lsp [order]     out a [order]
void LspToLpc(const float *lsp, int order, float *a);

// Weights of a weighted LSP distance: the inverse magnitude of the envelope
// at each frequency, raised to `exponent`.  For LSP i (c = cos w_i)
//   P_i = sin(w_i/2) prod_{even-numbered j} (c - cos w_j)
//   Q_i = cos(w_i/2) prod_{odd-numbered j}  (c - cos w_j)   (j counted from 1)
//   w_i = (1 / sqrt(P_i^2 + Q_i^2))^exponent,  in double precision,
// then the two highest weights are lowered by 0.64 and 0.16: the ear minds
// errors at the top of the band least.  Two coinciding frequencies of the two
// polynomials would make both products vanish; a floor keeps the weight finite.
//   in  lsp [order] (order even, >= 4)     out w [order]
void LspWeights(const float *lsp, int order, double exponent, float *w);

// The vector of an empty model, pi k / (order + 1) for k = 1..order: where a
// coder's LSP memory starts.
void UniformLsp(int order, float *lsp);

// Whether an LSP vector makes a stable synthesis filter.  The filter sees an
// LSP only through its cosine: the vector makes one when the cosines fall
// strictly from below 1 to above -1 (the roots of the two polynomials then
// interleave on the unit circle).  That holds for every increasing vector
// strictly inside (0, pi), and also for one whose first LSP has come out a
// little below 0 (or whose last a little above pi): it folds back to the
// same filter.  A NaN makes none.
//   in  lsp [order]
bool LspMakesFilter(const float *lsp, int order);

// Puts a rebuilt LSP vector in order and keeps its neighbours apart, the same
// on both sides of a link:
//  - up to two bubble passes, stopping after a pass that swapped nothing;
//  - for i = 1..order-1 in turn, a gap d = lsp[i] - lsp[i-1] narrower than
//    t = minimumGap[i] becomes t/2 + d^2/(2t) (continuous at d = t, never
//    below t/2).
// That result stands whenever it makes a stable filter (LspMakesFilter),
// however close to 0 or pi its ends lie: a constant input, for one, puts the
// first LSP near 0.015 rad.  Only a vector that makes none (a damaged stream
// builds one) is pulled inside kLowestLsp .. kHighestLsp with half the gaps
// kept, so that every stream gives a stable, well damped filter.
//   in/out lsp [order]     in minimumGap [order] (entry 0 unused)
constexpr float kLowestLsp = 0.03f;
constexpr float kHighestLsp = static_cast<float>(std::numbers::pi) - 0.03f;
void StabiliseLsp(float *lsp, int order, const float *minimumGap);

// The first two steps of StabiliseLsp alone (ordering and spacing, no
// safeguard): for a coder that deals with vectors that make no filter in its
// own way.
void OrderAndSpaceLsp(float *lsp, int order, const float *minimumGap);

// LPC sets of `subframes` sub-frames of a frame: sub-frame j < n-1 from the
// LSPs (1 - w) previous + w current with w = (j + 1) / n, the last from
// current itself.
//   in  current [order], previous [order]     out lpc [subframes * order]
void InterpolateLspToLpc(const float *current, const float *previous, int order, int subframes, float *lpc);

} // namespace vntr::dsp
