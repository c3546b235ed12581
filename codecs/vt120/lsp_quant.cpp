#include "lsp_quant.hpp"

#include "tables.hpp"

#include <vntr/dsp/lsp.hpp>

namespace vntr::vt120 {

Lsp InitialLsp() {
    Lsp lsp;
    dsp::UniformLsp(kOrder, lsp.data());
    return lsp;
}

Lsp LspWeights(const Lsp &lsp) {
    Lsp w;
    dsp::LspWeights(lsp.data(), kOrder, 0.3, w.data());
    return w;
}

std::array<dsp::MsvqStage, kLspStages> LspStages(const float (*codebook)[kLspStageSize * kOrder]) {
    const float(*book)[kLspStageSize * kOrder] = codebook ? codebook : kLspCodebook;
    std::array<dsp::MsvqStage, kLspStages> stages{};
    const bool builtIn = book == kLspCodebook;
    for (int s = 0; s < kLspStages; ++s) {
        stages[static_cast<std::size_t>(s)] = {book[s], kLspStageSize, builtIn ? kLspColumns.columns[s] : nullptr};
    }
    return stages;
}

LspCode QuantiseLsp(const Lsp &lsp, const Lsp &weights, const float (*codebook)[kLspStageSize * kOrder]) {
    const auto stages = LspStages(codebook);
    LspCode code{};
    const dsp::MsvqChoice choice = dsp::MsvqSearch(lsp.data(), weights.data(), nullptr, kOrder, stages.data(),
                                                   kLspStages, kLspCandidates, code.quantised.data());
    for (int s = 0; s < kLspStages; ++s) code.indices[s] = choice.indices[s];
    StabiliseLsp(code.quantised);
    return code;
}

Lsp RebuildLsp(const int indices[kLspStages], const float (*codebook)[kLspStageSize * kOrder]) {
    const auto stages = LspStages(codebook);
    int wrapped[kLspStages];
    for (int s = 0; s < kLspStages; ++s) wrapped[s] = indices[s] & (kLspStageSize - 1);
    Lsp q;
    dsp::MsvqSum(nullptr, kOrder, stages.data(), kLspStages, wrapped, q.data());
    StabiliseLsp(q);
    return q;
}

void StabiliseLsp(Lsp &lsp) {
    dsp::StabiliseLsp(lsp.data(), kOrder, kMinimumLspGap);
}

void InterpolateLpc(const Lsp &current, const Lsp &previous, float (*lpc)[kOrder]) {
    dsp::InterpolateLspToLpc(current.data(), previous.data(), kOrder, kSubframes, lpc[0]);
}

} // namespace vntr::vt120
