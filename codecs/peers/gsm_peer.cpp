#include "gsm_peer.hpp"

#include <cstring>

namespace vntr::peers {

CodecStatus GsmCodec::OpenEncoder(Encoder &e, const PeerMode &) {
    e.coder = gsm_create();
    return e.coder != nullptr ? CODEC_OK : CODEC_ERR_MEMORY;
}

CodecStatus GsmCodec::OpenDecoder(Decoder &d, const PeerMode &) {
    d.coder = gsm_create();
    return d.coder != nullptr ? CODEC_OK : CODEC_ERR_MEMORY;
}

CodecStatus GsmCodec::Encode(Encoder &e, const PeerMode &, int16_t *pcm, uint8_t *out) {
    gsm_encode(e.coder, pcm, out);
    return CODEC_OK;
}

// The library refuses a frame without its signature; any other 33 bytes decode.
CodecStatus GsmCodec::Decode(Decoder &d, const PeerMode &mode, const uint8_t *in, int16_t *pcm) {
    gsm_frame frame;
    std::memcpy(frame, in, mode.codedBytes); // the library takes the frame as writable
    return gsm_decode(d.coder, frame, pcm) == 0 ? CODEC_OK : CODEC_ERR_ARGUMENT;
}

void GsmCodec::CloseEncoder(Encoder &e) {
    gsm_destroy(e.coder);
    e.coder = nullptr;
}

void GsmCodec::CloseDecoder(Decoder &d) {
    gsm_destroy(d.coder);
    d.coder = nullptr;
}

} // namespace vntr::peers
