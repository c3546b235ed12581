// Speex narrowband at a fixed quality, one 20 ms frame per packet with the
// terminator bits that pad it to whole bytes, at the complexity of the
// command-line encoder (3), with the decoder's perceptual enhancer on.
#pragma once

#include "peer_engine.hpp"

#include <speex/speex.h>

namespace vntr::peers {

struct SpeexCodec {
    struct Encoder {
        void *coder;
        SpeexBits bits;
    };
    struct Decoder {
        void *coder;
        SpeexBits bits;
    };
    static constexpr int kComplexity = 3;
    static constexpr unsigned kLastSubmode = 8; // the narrow-band sub-modes are 0 to 8
    static CodecStatus OpenEncoder(Encoder &e, const PeerMode &mode);
    static CodecStatus OpenDecoder(Decoder &d, const PeerMode &mode);
    static CodecStatus Encode(Encoder &e, const PeerMode &mode, int16_t *pcm, uint8_t *out);
    static CodecStatus Decode(Decoder &d, const PeerMode &mode, const uint8_t *in, int16_t *pcm);
    static void CloseEncoder(Encoder &e);
    static void CloseDecoder(Decoder &d);
};

// The narrowband encoder's look-ahead (40 samples) and the decoder's (one
// 40-sample sub-frame).
inline constexpr uint32_t kSpeexDelay = 80;
inline constexpr uint32_t kSpeexVersionWord = VersionWord(VNTR_PEER_LIBRARY_MAJOR, VNTR_PEER_LIBRARY_MINOR);

#define VNTR_SPEEX_DESCRIPTION(QUALITY, KBPS)                                                                          \
    "Speex " VNTR_PEER_LIBRARY_VERSION " (libspeex) narrowband, quality " QUALITY ", " KBPS " kbit/s, 20 ms"

// Quality 2 codes 119 bits a frame (15 bytes with the terminator), quality 4
// 160 bits (20 bytes), quality 6 220 bits (28 bytes).
struct Speex6k {
    using Codec = SpeexCodec;
    static constexpr PeerMode kMode{3201, 160, 15, 5950, kSpeexDelay, 2};
    VNTR_PEER_LIBRARY("Speex 6k", kSpeexVersionWord, VNTR_SPEEX_DESCRIPTION("2", "5.95"),
                      "libspeex " VNTR_PEER_LIBRARY_VERSION);
};
struct Speex8k {
    using Codec = SpeexCodec;
    static constexpr PeerMode kMode{3202, 160, 20, 8000, kSpeexDelay, 4};
    VNTR_PEER_LIBRARY("Speex 8k", kSpeexVersionWord, VNTR_SPEEX_DESCRIPTION("4", "8"),
                      "libspeex " VNTR_PEER_LIBRARY_VERSION);
};
struct Speex11k {
    using Codec = SpeexCodec;
    static constexpr PeerMode kMode{3203, 160, 28, 11000, kSpeexDelay, 6};
    VNTR_PEER_LIBRARY("Speex 11k", kSpeexVersionWord, VNTR_SPEEX_DESCRIPTION("6", "11"),
                      "libspeex " VNTR_PEER_LIBRARY_VERSION);
};

} // namespace vntr::peers
