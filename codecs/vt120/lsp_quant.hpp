// The spectral envelope: the four-stage LSP quantiser with its inverse, the
// ordering and spacing both sides apply to a rebuilt vector, and the
// half-way interpolation to the two sub-frames' LPC sets.
#pragma once

#include "constants.hpp"

#include <vntr/dsp/msvq.hpp>

#include <array>

namespace vntr::vt120 {

using Lsp = std::array<float, kOrder>;

// pi k / 11, k = 1..10: the previous vector of a freshly opened coder.
Lsp InitialLsp();

// Weights of the quantiser's distance: (P^2 + Q^2)^-0.15 at each LSP, the
// last two lowered by 0.64 and 0.16.
Lsp LspWeights(const Lsp &lsp);

// The four stages as the multi-stage search sees them (codebook null: the built-in one).
std::array<dsp::MsvqStage, kLspStages> LspStages(const float (*codebook)[kLspStageSize * kOrder] = nullptr);

struct LspCode {
    int indices[kLspStages];
    Lsp quantised; // ordered and spaced
};

// The 8-best search over the four stages by the weighted error, then the
// ordering and spacing of the chosen sum.
LspCode QuantiseLsp(const Lsp &lsp, const Lsp &weights, const float (*codebook)[kLspStageSize * kOrder] = nullptr);

// C1[i1] + C2[i2] + C3[i3] + C4[i4] (indices taken mod 64), ordered and spaced.
Lsp RebuildLsp(const int indices[kLspStages], const float (*codebook)[kLspStageSize * kOrder] = nullptr);

// Up to two ordering passes, then the minimum gaps 0.06 / 0.08 / 0.1 rad by
// the rule t/2 + d^2/(2t).  That result stands whenever it makes a stable
// filter, even with its first LSP near 0 (a constant input's); only a vector
// that makes none (a damaged stream builds one) is pulled inside
// 0.03 .. pi - 0.03.
void StabiliseLsp(Lsp &lsp);

// Sub-frame 0 from 0.5 previous + 0.5 current, sub-frame 1 from current.
//   out lpc [2][kOrder]
void InterpolateLpc(const Lsp &current, const Lsp &previous, float (*lpc)[kOrder]);

} // namespace vntr::vt120
