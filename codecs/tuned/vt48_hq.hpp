// VT48 HQ: VT48's streams written by an encoder that targets the weighted
// error A(z/0.96)/A(z/0.5) (x - s) with the filters' memories carried from
// subframe to subframe, instead of the residual through 1/A(z/0.9) from rest
// (codecs/vt48/encoder.hpp, kCarriedWeighting), and the described decoder.
#pragma once

#include "tuned_engine.hpp"

#include <engine.hpp>

namespace vntr::tuned {

struct Vt48Hq {
    using Described = vt48::Engine;
    // The encoder's searches, chosen on held-out speech (codecs/tuned/README.md).
    static constexpr uint32_t kRefinements = vt48::kCarriedWeighting;

    VNTR_TUNED_LIBRARY("VT48 HQ", "VT48 HQ tuned encoder; streams compatible with VT48 (4.8 kbps, 8 kHz)", "VT48");

    // The error weighting A(z/g1)/A(z/g2) of the carried memory.
    static constexpr float kWeightNumerator = 0.96f;
    static constexpr float kWeightDenominator = 0.5f;

    static void Tune(Described::EncoderState &state, uint32_t /*options*/) {
        state.coder.refinements = kRefinements;
        state.coder.weightNumerator = kWeightNumerator;
        state.coder.weightDenominator = kWeightDenominator;
    }
};

} // namespace vntr::tuned
