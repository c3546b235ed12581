// The trained and designed tables, included from the generated files in
// codebooks/ (each names the tool and command line that made it).
#include "tables.hpp"

namespace vntr::vt120 {

constexpr float kLspCodebook[kLspStages][kLspStageSize * kOrder] = {
#include "codebooks/lsp_stages.inc"
};
constexpr LspColumnLayout kLspColumns = dsp::MsvqColumns<kOrder, kLspStageSize, kLspStages>(kLspCodebook);

namespace {

constexpr dsp::PredictorCodebook MakePredictorCodebook() {
    dsp::PredictorCodebook codebook{{
#include "codebooks/pitch_predictor.inc"
                                    },
                                    {}};
    dsp::DerivePredictorSearch(codebook);
    return codebook;
}

} // namespace

constinit const dsp::PredictorCodebook kPredictorCodebook = MakePredictorCodebook();

const float kInterp16[7][16] = {
#include "codebooks/postfilter_interp16.inc"
};

} // namespace vntr::vt120
