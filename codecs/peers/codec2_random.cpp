#include "codec2_random.hpp"

namespace vntr::peers {

// The generator of the decoder inside codec2_decode on this thread; null
// between calls, so it carries nothing from one call to the next.  All
// Codec2 libraries of a process share one libcodec2, whose call binds to the
// codec2_rand of whichever of them loaded it first; the slot is a unique
// symbol (an inline function's static of default visibility, outside any
// unnamed namespace), which the dynamic linker merges across the libraries,
// so every one of them hands its decoder's generator to the same place.
inline __attribute__((visibility("default"))) uint64_t *&CurrentGenerator() {
    static thread_local uint64_t *generator = nullptr;
    return generator;
}

namespace {

// libcodec2's recurrence and output bits.
int Draw(uint64_t &state) {
    state = state * 1103515245u + 12345u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

} // namespace

void Codec2DecodeWith(uint64_t &generator, CODEC2 *coder, int16_t *pcm, const uint8_t *bits) {
    uint64_t *&slot = CurrentGenerator();
    uint64_t *const outer = slot;
    slot = &generator;
    codec2_decode(coder, pcm, bits);
    slot = outer;
}

} // namespace vntr::peers

// Reached from libcodec2 only inside Codec2DecodeWith; a call from anywhere
// else (libcodec2 draws nothing in the encoder) gets the first number of a
// fresh generator rather than touching shared state.
extern "C" __attribute__((visibility("default"))) int codec2_rand(void) {
    uint64_t *generator = vntr::peers::CurrentGenerator();
    uint64_t fresh = vntr::peers::kCodec2Seed;
    return vntr::peers::Draw(generator != nullptr ? *generator : fresh);
}
