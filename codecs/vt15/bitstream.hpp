// The continuous bit stream: frames follow one another with no byte
// alignment; bits fill each byte from the least significant upwards and each
// field goes least significant bit first.
#pragma once

#include "frame_classes.hpp"

#include <cstdint>

namespace vntr::vt15 {

// The encoder's bits that do not yet fill a byte.
struct BitRemainder {
    uint8_t bits;  // in the low `count` bits
    uint8_t count; // 0..7
};

// Appends a frame behind the remainder and hands out the bytes completed.
// The header is taken from the frame's class.
//   out [at most 6 bytes]; returns the number written
int PackFrame(BitRemainder &remainder, const FrameFields &frame, uint8_t *out);

// Hands out the incomplete byte, if any (its unused high bits 0).
//   out [at most 1 byte]; returns 0 or 1
int FlushRemainder(BitRemainder &remainder, uint8_t *out);

struct UnpackResult {
    bool complete;     // false: the frame runs past the bytes offered
    int bytesConsumed; // bytes read completely
    int bitOffset;     // where the next frame starts in the first byte not consumed
};

// Reads one frame that begins at bit `bitOffset` (0..7) of in[0], looking at
// no more than kMaxCodedBytes of the `size` bytes offered.
UnpackResult UnpackFrame(const uint8_t *in, int size, int bitOffset, int previousClass, FrameFields &frame);

} // namespace vntr::vt15
