// VT4864 HQ: VT4864v6's streams at both rates (and switched per frame, as the
// described library switches them) written by an encoder that walks the whole
// pulse tree with exact correlations, each pulse signed by its own sample
// (codecs/vt4864v6/pulse_tree.hpp), and the described decoder.  The
// closed-loop lag (kClosedLoopLag) lowers the log-spectral distance a little
// more but does not raise ViSQOL on most held-out recordings, so it is left
// out (codecs/tuned/README.md).
#pragma once

#include "tuned_engine.hpp"

#include <engine.hpp>

namespace vntr::tuned {

struct Vt4864Hq {
    using Described = vt4864v6::Engine;
    // The encoder's searches, chosen on held-out speech.
    static constexpr uint32_t kSearches = vt4864v6::kExhaustivePulses;

    VNTR_TUNED_LIBRARY("VT4864 HQ", "VT4864 HQ tuned encoder; streams compatible with VT4864v6 (4.8/6.4 kbps, 8 kHz)",
                       "VT4864v6", {"Selected bitrate", "6400"});

    static void Tune(Described::EncoderState &state, uint32_t /*options*/) { state.coder.searches = kSearches; }
};

} // namespace vntr::tuned
