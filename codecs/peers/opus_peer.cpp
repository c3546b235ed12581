#include "opus_peer.hpp"

namespace vntr::peers {
namespace {

// A packet that does not decode is damaged data the caller passed in; the
// library's other failures are its own.
CodecStatus StatusOf(int error) {
    switch (error) {
    case OPUS_OK:
        return CODEC_OK;
    case OPUS_INVALID_PACKET:
    case OPUS_BUFFER_TOO_SMALL:
    case OPUS_BAD_ARG:
        return CODEC_ERR_ARGUMENT;
    case OPUS_ALLOC_FAIL:
        return CODEC_ERR_MEMORY;
    case OPUS_UNIMPLEMENTED:
        return CODEC_ERR_UNSUPPORTED;
    default:
        return CODEC_ERR_GENERAL;
    }
}

} // namespace

CodecStatus OpusCodec::OpenEncoder(Encoder &e, const PeerMode &mode) {
    int error = OPUS_OK;
    e.coder = opus_encoder_create(kSampleRate, 1, OPUS_APPLICATION_VOIP, &error);
    if (e.coder == nullptr) return error == OPUS_OK ? CODEC_ERR_MEMORY : StatusOf(error);
    const int settings[] = {
        opus_encoder_ctl(e.coder, OPUS_SET_BITRATE(mode.setting)),
        opus_encoder_ctl(e.coder, OPUS_SET_VBR(0)),
        opus_encoder_ctl(e.coder, OPUS_SET_COMPLEXITY(10)),
        opus_encoder_ctl(e.coder, OPUS_SET_BANDWIDTH(OPUS_BANDWIDTH_NARROWBAND)),
    };
    for (const int result : settings) {
        if (result != OPUS_OK) {
            CloseEncoder(e);
            return StatusOf(result);
        }
    }
    return CODEC_OK;
}

CodecStatus OpusCodec::OpenDecoder(Decoder &d, const PeerMode &) {
    int error = OPUS_OK;
    d.coder = opus_decoder_create(kSampleRate, 1, &error);
    if (d.coder == nullptr) return error == OPUS_OK ? CODEC_ERR_MEMORY : StatusOf(error);
    return CODEC_OK;
}

CodecStatus OpusCodec::Encode(Encoder &e, const PeerMode &mode, int16_t *pcm, uint8_t *out) {
    const opus_int32 size = opus_encode(e.coder, pcm, mode.frameSamples, out, mode.codedBytes);
    if (size < 0) return StatusOf(size);
    // The constant-rate encoder fills its packets itself; padding keeps the
    // frame size fixed should one come out shorter.
    if (size < mode.codedBytes) return StatusOf(opus_packet_pad(out, size, mode.codedBytes));
    return CODEC_OK;
}

CodecStatus OpusCodec::Decode(Decoder &d, const PeerMode &mode, const uint8_t *in, int16_t *pcm) {
    // A packet of another duration (a damaged table-of-contents byte) would
    // not give one frame.
    const int samples = opus_decoder_get_nb_samples(d.coder, in, mode.codedBytes);
    if (samples < 0) return StatusOf(samples);
    if (samples != mode.frameSamples) return CODEC_ERR_ARGUMENT;
    const int decoded = opus_decode(d.coder, in, mode.codedBytes, pcm, mode.frameSamples, 0);
    if (decoded < 0) return StatusOf(decoded);
    return decoded == mode.frameSamples ? CODEC_OK : CODEC_ERR_ARGUMENT;
}

void OpusCodec::CloseEncoder(Encoder &e) {
    opus_encoder_destroy(e.coder);
    e.coder = nullptr;
}

void OpusCodec::CloseDecoder(Decoder &d) {
    opus_decoder_destroy(d.coder);
    d.coder = nullptr;
}

} // namespace vntr::peers
