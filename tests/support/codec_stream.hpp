// Running a whole signal through a codec library the way callers do: frame
// by frame into one coded stream (with the end-of-stream flush where the codec
// holds bits back), and back with a carry-over buffer.
#pragma once

#include <vntr/codec_binding.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace vntr::test {

struct EncodedStream {
    std::vector<uint8_t> bytes;
    std::vector<uint16_t> frameSizes; // bytes out of each call, the flush last
    int frames = 0;
};

// Encodes every whole frame of `pcm` (16-bit samples).
inline EncodedStream EncodeAll(const CodecBinding &lib, uint32_t format, uint32_t options,
                               const std::vector<int16_t> &pcm, uint32_t flags = 0) {
    CodecFormat f{};
    if (lib.openEncoder(format, options, &f) != CODEC_OK) throw std::runtime_error("OpenEncoder failed");
    EncodedStream s;
    std::vector<uint8_t> out(f.maxCodedBytes);
    const std::size_t perFrame = f.frameBytes / 2;
    for (std::size_t at = 0; at + perFrame <= pcm.size(); at += perFrame) {
        uint16_t in = f.frameBytes, cap = f.maxCodedBytes;
        const CodecStatus st = lib.encode(f.handle, flags, &pcm[at], &in, out.data(), &cap);
        if (st != CODEC_OK) throw std::runtime_error("Encode failed: " + std::to_string(st));
        s.bytes.insert(s.bytes.end(), out.begin(), out.begin() + cap);
        s.frameSizes.push_back(cap);
        ++s.frames;
    }
    if (CodecNeedsFlush(f.codecId) != 0) {
        uint16_t in = CODEC_END_OF_STREAM, cap = f.maxCodedBytes;
        if (lib.encode(f.handle, flags, pcm.data(), &in, out.data(), &cap) != CODEC_OK)
            throw std::runtime_error("flush failed");
        s.bytes.insert(s.bytes.end(), out.begin(), out.begin() + cap);
        s.frameSizes.push_back(cap);
    }
    lib.closeEncoder(f.handle);
    return s;
}

struct DecodedStream {
    std::vector<int16_t> pcm;
    std::vector<uint16_t> consumed; // bytes consumed by each frame
    int frames = 0;
};

// Decodes until Decode asks for more data than is left. Each call is offered
// up to `extraOffer` bytes beyond maxCodedBytes, in a buffer of exactly the
// offered size (so that a reader running past it is caught by the sanitizer).
inline DecodedStream DecodeAll(const CodecBinding &lib, uint32_t format, uint32_t options,
                               const std::vector<uint8_t> &stream, int extraOffer = 0, int maxFrames = 1 << 20) {
    CodecFormat f{};
    if (lib.openDecoder(format, options, &f) != CODEC_OK) throw std::runtime_error("OpenDecoder failed");
    DecodedStream d;
    std::vector<uint8_t> frame(f.frameBytes);
    std::size_t pos = 0;
    while (d.frames < maxFrames) {
        const std::size_t offer = std::min<std::size_t>(stream.size() - pos, f.maxCodedBytes + extraOffer);
        if (offer == 0) break;
        std::vector<uint8_t> buffer(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                                    stream.begin() + static_cast<std::ptrdiff_t>(pos + offer));
        uint16_t in = static_cast<uint16_t>(offer), cap = f.frameBytes;
        const CodecStatus st = lib.decode(f.handle, 0, buffer.data(), &in, frame.data(), &cap);
        if (st == CODEC_ERR_NEED_DATA) break;
        if (st != CODEC_OK) throw std::runtime_error("Decode failed: " + std::to_string(st));
        if (in > offer) throw std::runtime_error("Decode consumed more than it was offered");
        pos += in;
        d.consumed.push_back(in);
        const std::size_t old = d.pcm.size();
        d.pcm.resize(old + cap / 2);
        std::memcpy(&d.pcm[old], frame.data(), cap);
        ++d.frames;
    }
    lib.closeDecoder(f.handle);
    return d;
}

} // namespace vntr::test
