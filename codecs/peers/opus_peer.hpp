// Opus in narrowband at constant bit rate: 20 ms frames, complexity 10, the
// voice application. In constant-rate mode every packet has the same size,
// so the coded stream is the packets back to back.
#pragma once

#include "peer_engine.hpp"

#include <opus.h>

namespace vntr::peers {

struct OpusCodec {
    struct Encoder {
        OpusEncoder *coder;
    };
    struct Decoder {
        OpusDecoder *coder;
    };
    static CodecStatus OpenEncoder(Encoder &e, const PeerMode &mode);
    static CodecStatus OpenDecoder(Decoder &d, const PeerMode &mode);
    static CodecStatus Encode(Encoder &e, const PeerMode &mode, int16_t *pcm, uint8_t *out);
    static CodecStatus Decode(Decoder &d, const PeerMode &mode, const uint8_t *in, int16_t *pcm);
    static void CloseEncoder(Encoder &e);
    static void CloseDecoder(Decoder &d);
};

// The encoder's look-ahead at 8000 Hz (2.5 ms plus 4 ms of delay compensation).
inline constexpr uint32_t kOpusDelay = 52;
inline constexpr uint32_t kOpusVersionWord = VersionWord(VNTR_PEER_LIBRARY_MAJOR, VNTR_PEER_LIBRARY_MINOR);

#define VNTR_OPUS_DESCRIPTION(KBPS)                                                                                    \
    "Opus " VNTR_PEER_LIBRARY_VERSION " (libopus) narrowband, " KBPS " kbit/s CBR, 20 ms, complexity 10"

struct Opus6k {
    using Codec = OpusCodec;
    static constexpr PeerMode kMode{3101, 160, 15, 6000, kOpusDelay, 6000};
    VNTR_PEER_LIBRARY("Opus 6k", kOpusVersionWord, VNTR_OPUS_DESCRIPTION("6"), "libopus " VNTR_PEER_LIBRARY_VERSION);
};
struct Opus8k {
    using Codec = OpusCodec;
    static constexpr PeerMode kMode{3102, 160, 20, 8000, kOpusDelay, 8000};
    VNTR_PEER_LIBRARY("Opus 8k", kOpusVersionWord, VNTR_OPUS_DESCRIPTION("8"), "libopus " VNTR_PEER_LIBRARY_VERSION);
};
struct Opus12k {
    using Codec = OpusCodec;
    static constexpr PeerMode kMode{3103, 160, 30, 12000, kOpusDelay, 12000};
    VNTR_PEER_LIBRARY("Opus 12k", kOpusVersionWord, VNTR_OPUS_DESCRIPTION("12"), "libopus " VNTR_PEER_LIBRARY_VERSION);
};

} // namespace vntr::peers
