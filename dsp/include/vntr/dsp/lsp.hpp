// Conversion between LPC coefficients and line spectrum pairs (LSP
// frequencies in radians, ascending, 0..pi) for an even order.
#pragma once

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

} // namespace vntr::dsp
