// libFuzzer entry (build with -DVNTR_FUZZ=ON and clang, run
// tests/vt15/vt15_fuzz_decoder -max_total_time=600): feeds arbitrary bytes to a
// VT15 decoder the way a caller does (offers of up to 8 bytes, unconsumed
// bytes carried over), with the offer sizes taken from the input as well;
// each offer is copied into a heap buffer of exactly its size.
#include "engine.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

using Codec = vntr::frame::Frame<vntr::vt15::Engine>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned offerSeed = data[0];
    CodecFormat dec{};
    if (Codec::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &dec) != CODEC_OK) {
        return 0;
    }
    std::size_t pos = 1;
    unsigned call = 0;
    while (pos < size) {
        const std::size_t left = size - pos;
        const std::size_t want = 1 + (offerSeed + call++) % 8;
        uint16_t offered = static_cast<uint16_t>(left < want ? left : want);
        int16_t pcm[vntr::vt15::kFrameLength];
        uint16_t outBytes = sizeof pcm;
        const uint16_t before = offered;
        // Each offer sits in a heap buffer of exactly its size, so that a read
        // past what was offered is seen.
        auto offer = std::make_unique<uint8_t[]>(offered);
        std::memcpy(offer.get(), data + pos, offered);
        const CodecStatus s = Codec::Decode(dec.handle, 0, offer.get(), &offered, pcm, &outBytes);
        if (s == CODEC_ERR_NEED_DATA) {
            if (before == left) break;
            continue;
        }
        if (s != CODEC_OK || offered > before || offered > 7 || outBytes != sizeof pcm) __builtin_trap();
        pos += offered;
        if (call > 100000) break;
    }
    Codec::CloseDecoder(dec.handle);
    return 0;
}
