// libFuzzer entry (build with -DVNTR_FUZZ=ON and clang, run
// tests/vt4864v6/vt4864v6_fuzz_decoder -max_total_time=600): feeds arbitrary bytes to a variable-rate VT4864v6 decoder
// the way a caller does (portions of up to 24 bytes, unconsumed bytes carried
// over), with the per-call offer taken from the input as well.
#include "engine.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using Frame = vntr::frame::Frame<vntr::vt4864v6::Engine>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const uint32_t options = data[0] % 3 == 0 ? 0u : (data[0] % 3 == 1 ? CODEC_OPT_4800 : CODEC_OPT_6400);
    CodecFormat dec{};
    if (Frame::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, options, &dec) != CODEC_OK) {
        return 0;
    }
    std::size_t pos = 1;
    while (pos < size) {
        const std::size_t left = size - pos;
        uint16_t offered = static_cast<uint16_t>(left < 24 ? left : 24);
        int16_t pcm[240];
        uint16_t outBytes = sizeof pcm;
        // Each offer sits in a heap buffer of exactly its size, so that a read
        // past what was offered is seen.
        const uint16_t before = offered;
        auto offer = std::make_unique<uint8_t[]>(before);
        std::memcpy(offer.get(), data + pos, before);
        const CodecStatus s = Frame::Decode(dec.handle, 0, offer.get(), &offered, pcm, &outBytes);
        if (s != CODEC_OK) break;
        if (offered == 0 || offered > before) __builtin_trap();
        pos += offered;
    }
    Frame::CloseDecoder(dec.handle);
    return 0;
}
