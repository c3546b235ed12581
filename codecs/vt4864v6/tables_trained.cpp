// The trained and designed tables, included from the generated files in
// codebooks/ (each names the tool and command line that made it).
#include "tables.hpp"

namespace vntr::vt4864v6 {

const float kLspCodebook[kLspCodebookValues] = {
#include "codebooks/lsp_codebook.inc"
};

namespace {

constexpr PredictorCodebook MakePredictorCodebook() {
    PredictorCodebook codebook{{
#include "codebooks/pitch_predictor.inc"
                               },
                               {}};
    DerivePredictorSearch(codebook);
    return codebook;
}

} // namespace

constinit const PredictorCodebook kPredictorCodebook = MakePredictorCodebook();

const float kInterp4[7][4] = {
#include "codebooks/postfilter_interp4.inc"
};

const float kInterp16[7][16] = {
#include "codebooks/postfilter_interp16.inc"
};

} // namespace vntr::vt4864v6
