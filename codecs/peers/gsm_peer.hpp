// GSM 06.10 full rate: 160 samples into 33 bytes (260 bits and the 4-bit
// signature that opens every frame), with the library's default options as
// the command-line tool uses them.
#pragma once

#include "peer_engine.hpp"

#include <gsm.h>

namespace vntr::peers {

struct GsmCodec {
    struct Encoder {
        gsm coder;
    };
    struct Decoder {
        gsm coder;
    };
    static CodecStatus OpenEncoder(Encoder &e, const PeerMode &mode);
    static CodecStatus OpenDecoder(Decoder &d, const PeerMode &mode);
    static CodecStatus Encode(Encoder &e, const PeerMode &mode, int16_t *pcm, uint8_t *out);
    static CodecStatus Decode(Decoder &d, const PeerMode &mode, const uint8_t *in, int16_t *pcm);
    static void CloseEncoder(Encoder &e);
    static void CloseDecoder(Decoder &d);
};

#define VNTR_GSM_STRING(X) #X
#define VNTR_GSM_VERSION_TEXT(A, B, C) VNTR_GSM_STRING(A) "." VNTR_GSM_STRING(B) "." VNTR_GSM_STRING(C)
#define VNTR_GSM_VERSION VNTR_GSM_VERSION_TEXT(GSM_MAJOR, GSM_MINOR, GSM_PATCHLEVEL)

struct GsmFullRate {
    using Codec = GsmCodec;
    // No look-ahead: the decoded speech is in step with the input.
    static constexpr PeerMode kMode{3401, 160, 33, 13200, 0, 0};
    VNTR_PEER_LIBRARY("GSM-FR", VersionWord(GSM_MAJOR, GSM_MINOR),
                      "GSM 06.10 full rate, libgsm " VNTR_GSM_VERSION ", 13.2 kbit/s, 20 ms",
                      "libgsm " VNTR_GSM_VERSION);
};

} // namespace vntr::peers
