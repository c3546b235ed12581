#include "codec2_peer.hpp"

namespace vntr::peers {
namespace {

// codec2_create fails only for a mode the library was built without, or
// without memory; the sizes are checked against the ones this build expects.
CodecStatus Create(CODEC2 *&coder, const PeerMode &mode) {
    coder = codec2_create(mode.setting);
    if (coder == nullptr) return CODEC_ERR_UNSUPPORTED;
    if (codec2_samples_per_frame(coder) != mode.frameSamples || codec2_bytes_per_frame(coder) != mode.codedBytes) {
        codec2_destroy(coder);
        coder = nullptr;
        return CODEC_ERR_UNSUPPORTED;
    }
    return CODEC_OK;
}

} // namespace

CodecStatus Codec2Codec::OpenEncoder(Encoder &e, const PeerMode &mode) {
    return Create(e.coder, mode);
}
CodecStatus Codec2Codec::OpenDecoder(Decoder &d, const PeerMode &mode) {
    d.generator = kCodec2Seed;
    return Create(d.coder, mode);
}

CodecStatus Codec2Codec::Encode(Encoder &e, const PeerMode &, int16_t *pcm, uint8_t *out) {
    codec2_encode(e.coder, out, pcm);
    return CODEC_OK;
}

// Every bit pattern is a frame.
CodecStatus Codec2Codec::Decode(Decoder &d, const PeerMode &, const uint8_t *in, int16_t *pcm) {
    Codec2DecodeWith(d.generator, d.coder, pcm, in);
    return CODEC_OK;
}

void Codec2Codec::CloseEncoder(Encoder &e) {
    codec2_destroy(e.coder);
    e.coder = nullptr;
}

void Codec2Codec::CloseDecoder(Decoder &d) {
    codec2_destroy(d.coder);
    d.coder = nullptr;
}

} // namespace vntr::peers
