// The random numbers of a Codec2 decoder, drawn from its own block.
//
// libcodec2 takes the phases of unvoiced harmonics and the post-filter's
// noise from codec2_rand(), one generator for the whole process: a decoder's
// output would depend on what every other Codec2 decoder in the process had
// decoded before it, and two handles (or two corpus workers) would disturb
// each other.  Each Codec2 library therefore defines codec2_rand itself
// (codec2_random.cpp, compiled into the library so that the definition is
// exported); libcodec2's call lands there and draws from the generator of the
// decoder that is decoding on the calling thread.
#pragma once

#include <codec2.h>

#include <cstdint>

namespace vntr::peers {

// libcodec2's own seed: a fresh decoder gives what c2dec gives.
inline constexpr uint64_t kCodec2Seed = 1;

// codec2_decode with `generator` as the source of codec2_rand.
void Codec2DecodeWith(uint64_t &generator, CODEC2 *coder, int16_t *pcm, const uint8_t *bits);

} // namespace vntr::peers
