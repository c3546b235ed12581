// libFuzzer entry (build with -DVNTR_FUZZ=ON and clang, run
// tests/vt120/vt120_fuzz_decoder -max_total_time=600): feeds arbitrary bytes
// to a VT120 decoder through the codec frame, 12 bytes a call with the
// per-call offer taken from the input, and checks every sample it hands back.
#include "decoder.hpp"
#include "engine.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using Frame = vntr::frame::Frame<vntr::vt120::Engine>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    CodecFormat dec{};
    if (Frame::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &dec) != CODEC_OK) {
        return 0;
    }
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t left = size - pos;
        uint16_t offered = static_cast<uint16_t>(left < 12 ? left : 12 + data[pos] % 4);
        if (offered > left) offered = static_cast<uint16_t>(left);
        int16_t pcm[64];
        uint16_t outBytes = sizeof pcm;
        // Each offer sits in a heap buffer of exactly its size, so that a read
        // past what was offered is seen.
        auto offer = std::make_unique<uint8_t[]>(offered);
        std::memcpy(offer.get(), data + pos, offered);
        const CodecStatus s = Frame::Decode(dec.handle, 0, offer.get(), &offered, pcm, &outBytes);
        if (s != CODEC_OK) break;
        if (offered != 12 || outBytes != 128) __builtin_trap();
        pos += offered;
    }
    Frame::CloseDecoder(dec.handle);

    // The engine directly: the float output before the conversion is finite.
    auto state = std::make_unique<vntr::vt120::DecoderState>();
    vntr::vt120::InitDecoder(*state);
    for (std::size_t at = 0; at + 12 <= size; at += 12) {
        float out[64];
        auto frame = std::make_unique<uint8_t[]>(12);
        std::memcpy(frame.get(), data + at, 12);
        vntr::vt120::DecodeFrame(*state, frame.get(), out);
        for (float y : out) {
            if (!std::isfinite(y)) __builtin_trap();
        }
    }
    return 0;
}
