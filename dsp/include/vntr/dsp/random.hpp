// A small per-handle pseudo-random source for dither and noise: a 32-bit
// linear congruential generator whose upper bits give uniform 15-bit values.
// The state is a plain integer so that it can live in a zero-filled handle.
#pragma once

#include <cstdint>

namespace vntr::dsp {

// Next value in 0..32767; advances *state.
inline uint16_t NextRandom15(uint32_t &state) {
    state = state * 1103515245u + 12345u;
    return static_cast<uint16_t>((state >> 16) & 0x7FFFu);
}

} // namespace vntr::dsp
