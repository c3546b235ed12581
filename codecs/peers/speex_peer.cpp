#include "speex_peer.hpp"

namespace vntr::peers {
namespace {

// speex_bits_init reports a failed allocation only by leaving the buffer empty.
bool InitBits(SpeexBits &bits) {
    speex_bits_init(&bits);
    return bits.chars != nullptr;
}

} // namespace

CodecStatus SpeexCodec::OpenEncoder(Encoder &e, const PeerMode &mode) {
    e.coder = speex_encoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
    if (e.coder == nullptr) return CODEC_ERR_MEMORY;
    if (!InitBits(e.bits)) {
        speex_encoder_destroy(e.coder);
        return CODEC_ERR_MEMORY;
    }
    int quality = mode.setting, complexity = kComplexity, frameSize = 0, bitRate = 0;
    speex_encoder_ctl(e.coder, SPEEX_SET_QUALITY, &quality);
    speex_encoder_ctl(e.coder, SPEEX_SET_COMPLEXITY, &complexity);
    speex_encoder_ctl(e.coder, SPEEX_GET_FRAME_SIZE, &frameSize);
    speex_encoder_ctl(e.coder, SPEEX_GET_BITRATE, &bitRate);
    // A library whose modes differ from the ones this build was made for.
    if (frameSize != mode.frameSamples || bitRate != static_cast<int>(mode.bitRate)) {
        CloseEncoder(e);
        return CODEC_ERR_UNSUPPORTED;
    }
    return CODEC_OK;
}

CodecStatus SpeexCodec::OpenDecoder(Decoder &d, const PeerMode &mode) {
    d.coder = speex_decoder_init(speex_lib_get_mode(SPEEX_MODEID_NB));
    if (d.coder == nullptr) return CODEC_ERR_MEMORY;
    if (!InitBits(d.bits)) {
        speex_decoder_destroy(d.coder);
        return CODEC_ERR_MEMORY;
    }
    int enhancer = 1, frameSize = 0;
    speex_decoder_ctl(d.coder, SPEEX_SET_ENH, &enhancer);
    speex_decoder_ctl(d.coder, SPEEX_GET_FRAME_SIZE, &frameSize);
    if (frameSize != mode.frameSamples) {
        CloseDecoder(d);
        return CODEC_ERR_UNSUPPORTED;
    }
    return CODEC_OK;
}

CodecStatus SpeexCodec::Encode(Encoder &e, const PeerMode &mode, int16_t *pcm, uint8_t *out) {
    speex_bits_reset(&e.bits);
    speex_encode_int(e.coder, pcm, &e.bits);
    speex_bits_insert_terminator(&e.bits);
    if (speex_bits_nbytes(&e.bits) != mode.codedBytes) return CODEC_ERR_GENERAL;
    speex_bits_write(&e.bits, reinterpret_cast<char *>(out), mode.codedBytes);
    return CODEC_OK;
}

CodecStatus SpeexCodec::Decode(Decoder &d, const PeerMode &mode, const uint8_t *in, int16_t *pcm) {
    // A frame of ours opens with a clear wide-band bit and a narrow-band
    // sub-mode of 0 to 8. Anything else is damage, refused here because the
    // library would print a notice for it on the standard error.
    const unsigned wideband = in[0] >> 7, submode = (in[0] >> 3) & 0xFu;
    if (wideband != 0 || submode > kLastSubmode) return CODEC_ERR_ARGUMENT;
    speex_bits_read_from(&d.bits, reinterpret_cast<const char *>(in), mode.codedBytes);
    // 0 is a frame; -1 a stream-end code or too few bits, -2 a corrupt
    // stream: damaged data either way. So is a frame that reads past its bytes.
    if (speex_decode_int(d.coder, &d.bits, pcm) != 0) return CODEC_ERR_ARGUMENT;
    if (speex_bits_remaining(&d.bits) < 0) return CODEC_ERR_ARGUMENT;
    return CODEC_OK;
}

void SpeexCodec::CloseEncoder(Encoder &e) {
    speex_bits_destroy(&e.bits);
    speex_encoder_destroy(e.coder);
    e.coder = nullptr;
}

void SpeexCodec::CloseDecoder(Decoder &d) {
    speex_bits_destroy(&d.bits);
    speex_decoder_destroy(d.coder);
    d.coder = nullptr;
}

} // namespace vntr::peers
