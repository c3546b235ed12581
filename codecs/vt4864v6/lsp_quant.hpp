// The spectral envelope: LPC analysis of the speech buffer, LSP weights, the
// predictive mean-removed split vector quantiser (3 x 8 bits) with its
// rebuilding, stabilisation, and per-sub-frame interpolation back to LPC.
#pragma once

#include "rate_mode.hpp"
#include "tables.hpp"

#include <array>

namespace vntr::vt4864v6 {

constexpr int kSpeechBuffer = 360; // 120 carried-over samples + 240 new ones
constexpr int kAnalysisWindow = 180;

using Lsp = std::array<float, kOrder>;
using LspIndices = std::array<int, 3>;

// The LSP vector of an empty model, k pi / 11: the previous vector after open.
Lsp InitialLsp();

// LPC analysis of the 180-sample window starting at `start` in the speech
// buffer: Hamming window, autocorrelation with white-noise correction and lag
// window, Levinson.  Returns the final prediction error.
//   in  speech [kSpeechBuffer]     out a [kOrder]
float AnalyseLpc(const float *speech, int start, float *a);

// Weights of the quantiser's distance: |A(e^jw)|^-0.3 at each LSP, the last
// two lowered by 0.64 and 0.16.
Lsp LspWeights(const Lsp &lsp);

// The prediction residual that the codebooks quantise.
Lsp LspResidual(const Lsp &lsp, const Lsp &previous);

// Exhaustive weighted search of each split; the first of equal errors wins.
LspIndices QuantiseLsp(const Lsp &lsp, const Lsp &weights, const Lsp &previous);

// Search of one split over a residual vector, in the given table of three
// split codebooks laid out like kLspCodebook (the training passes its own).
int SearchLspSplit(int split, const float *residual, const float *weights, const float *codebookTable = kLspCodebook);

// omega_i = c_i + pred_i (prev_i - mean_i) + mean_i, not yet stabilised.
Lsp RebuildLsp(const LspIndices &indices, const Lsp &previous, const float *codebookTable = kLspCodebook);

// Puts a rebuilt vector in order (up to two bubble passes) and enforces the
// minimum distances (0.06, 0.08, 0.1 in the low, middle and high band).  That
// result stands whenever it makes a stable synthesis filter: the cosines of
// the LSPs fall strictly from below 1 to above -1.  A vector that does not -
// only damaged streams produce one - gives way to `previous` (the frame
// before's vector, which made a filter).
void StabiliseLsp(Lsp &lsp, const Lsp &previous);

// One LPC set per sub-frame: sub-frame j < n-1 from (1 - w) prev + w current,
// w = (j + 1) / n; the last from the current vector.
//   out lpc [subframes][kOrder]
void InterpolateLsp(const Lsp &current, const Lsp &previous, int subframes, float (*lpc)[kOrder]);

} // namespace vntr::vt4864v6
