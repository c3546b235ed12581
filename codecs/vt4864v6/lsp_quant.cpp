#include "lsp_quant.hpp"

#include "tables.hpp"

#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>

namespace vntr::vt4864v6 {

Lsp InitialLsp() {
    Lsp lsp;
    dsp::UniformLsp(kOrder, lsp.data());
    return lsp;
}

float AnalyseLpc(const float *speech, int start, float *a) {
    return dsp::AnalyseBlock(speech + start, kAnalysisWindow, kHammingHalf, kLagWindow, 1.001f, kOrder, a);
}

Lsp LspWeights(const Lsp &lsp) {
    Lsp weights;
    dsp::LspWeights(lsp.data(), kOrder, 0.3, weights.data());
    return weights;
}

Lsp LspResidual(const Lsp &lsp, const Lsp &previous) {
    Lsp r;
    for (int i = 0; i < kOrder; ++i) {
        r[i] = (lsp[i] - kLspMean[i]) - kLspPrediction[i] * (previous[i] - kLspMean[i]);
    }
    return r;
}

int SearchLspSplit(int split, const float *residual, const float *weights, const float *codebookTable) {
    const int first = kLspSplitStart[split];
    const int dim = kLspSplitStart[split + 1] - first;
    const float *codebook = codebookTable + LspCodebookOffset(split);
    float best = 1e36f;
    int bestIndex = 0;
    for (int c = 0; c < kLspCodebookSize; ++c, codebook += dim) {
        float err = 0.0f;
        for (int i = 0; i < dim; ++i) {
            const float d = residual[first + i] - codebook[i];
            err += weights[first + i] * d * d;
        }
        if (err < best) {
            best = err;
            bestIndex = c;
        }
    }
    return bestIndex;
}

LspIndices QuantiseLsp(const Lsp &lsp, const Lsp &weights, const Lsp &previous) {
    const Lsp r = LspResidual(lsp, previous);
    LspIndices indices;
    for (int s = 0; s < kLspSplits; ++s) indices[s] = SearchLspSplit(s, r.data(), weights.data());
    return indices;
}

Lsp RebuildLsp(const LspIndices &indices, const Lsp &previous, const float *codebookTable) {
    Lsp lsp;
    for (int s = 0; s < kLspSplits; ++s) {
        const int first = kLspSplitStart[s];
        const int dim = kLspSplitStart[s + 1] - first;
        const float *c = codebookTable + LspCodebookOffset(s) + (indices[s] & 255) * dim;
        for (int i = 0; i < dim; ++i) lsp[first + i] = c[i];
    }
    for (int i = 0; i < kOrder; ++i) lsp[i] += kLspPrediction[i] * (previous[i] - kLspMean[i]) + kLspMean[i];
    return lsp;
}

namespace {

// Minimum distance below LSP i (entry 0 unused): the low, middle and high band.
constexpr float kMinimumGap[kOrder] = {0.0f, 0.06f, 0.06f, 0.08f, 0.08f, 0.08f, 0.1f, 0.1f, 0.1f, 0.1f};

bool MakesAFilter(const Lsp &lsp) {
    return dsp::LspMakesFilter(lsp.data(), kOrder);
}

} // namespace

void StabiliseLsp(Lsp &lsp, const Lsp &previous) {
    dsp::OrderAndSpaceLsp(lsp.data(), kOrder, kMinimumGap);
    // Speech keeps this result, even the first LSP near or a little below 0
    // that the tail of the input filter leaves at a silence onset: encoder and
    // decoder predict the next vector from it, so any change here would show
    // for several frames.  Only a damaged stream gets a vector that makes no
    // filter; the frame then keeps the previous one, which always made one.
    if (!MakesAFilter(lsp)) lsp = MakesAFilter(previous) ? previous : InitialLsp();
}

void InterpolateLsp(const Lsp &current, const Lsp &previous, int subframes, float (*lpc)[kOrder]) {
    dsp::InterpolateLspToLpc(current.data(), previous.data(), kOrder, subframes, lpc[0]);
}

} // namespace vntr::vt4864v6
