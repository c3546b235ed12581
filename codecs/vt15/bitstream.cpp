#include "bitstream.hpp"

namespace vntr::vt15 {

int PackFrame(BitRemainder &remainder, const FrameFields &frame, uint8_t *out) {
    // At most 7 + 46 bits: one 64-bit word holds them all.
    uint64_t acc = remainder.bits;
    int count = remainder.count;
    const uint8_t *widths = kFieldWidths[frame.frameClass];
    for (int f = 0; f < kFieldCount; ++f) {
        const int width = widths[f];
        if (width == 0) continue;
        const uint64_t value =
            f == kFieldHeader ? static_cast<uint64_t>(HeaderForClass(frame.frameClass)) : frame.value[f];
        acc |= (value & ((1u << width) - 1u)) << count;
        count += width;
    }
    int written = 0;
    while (count >= 8) {
        out[written++] = static_cast<uint8_t>(acc);
        acc >>= 8;
        count -= 8;
    }
    remainder.bits = static_cast<uint8_t>(acc);
    remainder.count = static_cast<uint8_t>(count);
    return written;
}

int FlushRemainder(BitRemainder &remainder, uint8_t *out) {
    if (remainder.count == 0) return 0;
    out[0] = remainder.bits;
    remainder = BitRemainder{0, 0};
    return 1;
}

UnpackResult UnpackFrame(const uint8_t *in, int size, int bitOffset, int previousClass, FrameFields &frame) {
    const int bytes = size < kMaxCodedBytes ? (size > 0 ? size : 0) : kMaxCodedBytes;
    uint64_t acc = 0;
    for (int i = 0; i < bytes; ++i) acc |= static_cast<uint64_t>(in[i]) << (8 * i);
    acc >>= bitOffset;
    const int available = 8 * bytes - bitOffset;
    if (available < 2) return UnpackResult{false, 0, bitOffset};
    const int header = static_cast<int>(acc & 3u);
    const int frameClass = ClassFromHeader(header, previousClass);
    const int bits = FrameBits(frameClass);
    if (bits > available) return UnpackResult{false, 0, bitOffset};

    FrameFields read;
    read.frameClass = frameClass;
    const uint8_t *widths = kFieldWidths[frameClass];
    for (int f = 0; f < kFieldCount; ++f) {
        const int width = widths[f];
        read.value[f] = static_cast<uint16_t>(acc & ((1u << width) - 1u));
        acc >>= width;
    }
    frame = read;
    const int end = bitOffset + bits;
    return UnpackResult{true, end / 8, end % 8};
}

} // namespace vntr::vt15
