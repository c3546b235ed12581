// Codec2 at 3200, 1600 and 1300 bit/s, with the library's defaults (Gray-coded
// indices, the decoder's post-filter), as the command-line tools use them.
// Every frame is a whole number of bytes, the 1300 bit/s frame's last four
// bits unused.
#pragma once

#include "codec2_random.hpp"
#include "peer_engine.hpp"

#include <codec2.h>

namespace vntr::peers {

struct Codec2Codec {
    struct Encoder {
        CODEC2 *coder;
    };
    struct Decoder {
        CODEC2 *coder;
        uint64_t generator; // its codec2_rand (codec2_random.hpp)
    };
    static CodecStatus OpenEncoder(Encoder &e, const PeerMode &mode);
    static CodecStatus OpenDecoder(Decoder &d, const PeerMode &mode);
    static CodecStatus Encode(Encoder &e, const PeerMode &mode, int16_t *pcm, uint8_t *out);
    static CodecStatus Decode(Decoder &d, const PeerMode &mode, const uint8_t *in, int16_t *pcm);
    static void CloseEncoder(Encoder &e);
    static void CloseDecoder(Decoder &d);
};

inline constexpr uint32_t kCodec2VersionWord = VersionWord(CODEC2_VERSION_MAJOR, CODEC2_VERSION_MINOR);

#define VNTR_CODEC2_DESCRIPTION(MODE, KBPS, MS)                                                                        \
    "Codec2 " CODEC2_VERSION " (libcodec2) mode " MODE ", " KBPS " kbit/s, " MS " ms"

// The decoded speech lags the input by 20 ms in every mode: the analysis
// window is centred 160 samples behind the newest input.
inline constexpr uint32_t kCodec2Delay = 160;

struct Codec2_3200 {
    using Codec = Codec2Codec;
    static constexpr PeerMode kMode{3301, 160, 8, 3200, kCodec2Delay, CODEC2_MODE_3200};
    VNTR_PEER_LIBRARY("C2 3200", kCodec2VersionWord, VNTR_CODEC2_DESCRIPTION("3200", "3.2", "20"),
                      "libcodec2 " CODEC2_VERSION);
};
struct Codec2_1600 {
    using Codec = Codec2Codec;
    static constexpr PeerMode kMode{3302, 320, 8, 1600, kCodec2Delay, CODEC2_MODE_1600};
    VNTR_PEER_LIBRARY("C2 1600", kCodec2VersionWord, VNTR_CODEC2_DESCRIPTION("1600", "1.6", "40"),
                      "libcodec2 " CODEC2_VERSION);
};
struct Codec2_1300 {
    using Codec = Codec2Codec;
    static constexpr PeerMode kMode{3303, 320, 7, 1300, kCodec2Delay, CODEC2_MODE_1300};
    VNTR_PEER_LIBRARY("C2 1300", kCodec2VersionWord, VNTR_CODEC2_DESCRIPTION("1300", "1.3", "40"),
                      "libcodec2 " CODEC2_VERSION);
};

} // namespace vntr::peers
