// The LSP vectors the VT120 encoder quantises, gathered from speech files by
// running the encoder's own front end (pre-filter, the second window's LPC
// analysis, bandwidth expansion, LSP conversion), with the quantiser's weights.
#pragma once

#include "lsp_quant.hpp"

#include <string>
#include <vector>

namespace vntr::vt120::train {

struct LspData {
    std::vector<Lsp> lsp;
    std::vector<Lsp> weights;
};

// Every `every`-th frame of each file (each file a stream from a freshly opened encoder).
LspData GatherLsp(const std::vector<std::string> &files, int every = 1);

} // namespace vntr::vt120::train
