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

} // namespace vntr::dsp
