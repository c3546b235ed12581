// VT4864 HQ: VT4864v6's streams at both rates (and switched per frame, as the
// described library switches them) written by an encoder that walks the whole
// pulse tree with exact correlations and tries each lag's two neighbours by
// the pitch predictor's score (codecs/vt4864v6/encoder.hpp), the described
// decoder.
#pragma once

#include "tuned_engine.hpp"

#include <engine.hpp>

namespace vntr::tuned {

struct Vt4864Hq {
    using Described = vt4864v6::Engine;
    static constexpr uint32_t kSearches = vt4864v6::kExhaustivePulses | vt4864v6::kClosedLoopLag;

    VNTR_TUNED_LIBRARY("VT4864 HQ", "VT4864 HQ tuned encoder; streams compatible with VT4864v6 (4.8/6.4 kbps, 8 kHz)",
                       "VT4864v6", {"Selected bitrate", "6400"});

    static void Tune(Described::EncoderState &state, uint32_t /*options*/) { state.coder.searches = kSearches; }
};

} // namespace vntr::tuned
