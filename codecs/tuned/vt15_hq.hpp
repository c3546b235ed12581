// VT15 HQ: VT15's streams written by an encoder that chooses both gains so
// that the decoder's level contour meets the levels measured across the
// frame, and the pitch of a voiced frame among three candidates by their
// strength and their continuity with the neighbouring frames
// (codecs/vt15/tuning.hpp, TunedEncoder), the described decoder.
#pragma once

#include "tuned_engine.hpp"

#include <engine.hpp>

namespace vntr::tuned {

struct Vt15Hq {
    using Described = vt15::Engine;

    VNTR_TUNED_LIBRARY("VT15 HQ", "VT15 HQ tuned encoder; streams compatible with VT15 (1.5 kbps, 8 kHz)", "VT15");

    static void Tune(Described::EncoderState &state, uint32_t /*options*/) {
        state.coder.tuning = vt15::TunedEncoder();
    }
};

} // namespace vntr::tuned
