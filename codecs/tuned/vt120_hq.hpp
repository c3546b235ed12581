// VT120 HQ: VT120's streams written by an encoder that carries the best
// pitch pairs of a wider lag range into the pulse search and keeps the pair
// whose whole excitation leaves the least weighted error
// (codecs/vt120/encoder.hpp, EncoderTuning), the described decoder.
#pragma once

#include "tuned_engine.hpp"

#include <engine.hpp>

namespace vntr::tuned {

struct Vt120Hq {
    using Described = vt120::Engine;

    VNTR_TUNED_LIBRARY("VT120 HQ", "VT120 HQ tuned encoder; streams compatible with VT120 (12 kbps, 8 kHz)", "VT120");

    static void Tune(Described::EncoderState &state, uint32_t /*options*/) {
        state.coder.tuning = vt120::TunedEncoder();
    }
};

} // namespace vntr::tuned
