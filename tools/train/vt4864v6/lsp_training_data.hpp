// The LSP vectors the VT4864v6 encoder quantises, gathered from speech files
// by running the encoder's own front end (input filter, windowed LPC
// analysis, bandwidth expansion, LSP conversion), with their weights.
#pragma once

#include "lsp_quant.hpp"

#include <string>
#include <vector>

namespace vntr::vt4864v6::train {

struct LspSequence {
    std::vector<Lsp> lsp; // one per frame, in order
    std::vector<Lsp> weights;
};

// One sequence per file (each file is a stream that starts from an opened encoder).
std::vector<LspSequence> GatherLsp(const std::vector<std::string> &files);

// Spectral distortion in dB between two LSP vectors' envelopes 1/|A|^2 over 0..4 kHz.
double SpectralDistortion(const Lsp &a, const Lsp &b);

} // namespace vntr::vt4864v6::train
