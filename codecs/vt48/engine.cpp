#include "engine.hpp"

#include <cstring>

namespace vntr::vt48 {

namespace {
bool EightBit(uint32_t format) {
    return (format & 0xFFFFu) == kFormat8Bit;
}
} // namespace

CodecStatus Engine::SelectMode(uint32_t format, uint32_t /*options*/, CodecFormat &out) {
    const uint32_t low = format & 0xFFFFu;
    if (low != kFormat8Bit && low != kFormat16Bit) return CODEC_ERR_FORMAT;
    out.optionMask = 0;
    out.bitRate = out.peakBitRate = 4800;
    out.delaySamples = 0;
    out.codecId = kCodecId;
    out.frameBytes = static_cast<uint16_t>(low == kFormat8Bit ? kFrameLength : 2 * kFrameLength);
    out.maxCodedBytes = kCodedBytes;
    out.minCodedBytes = static_cast<float>(kCodedBytes);
    return CODEC_OK;
}

CodecStatus Engine::InitEncoder(EncoderState &state, const CodecFormat &, uint32_t formatWord, uint32_t) {
    vt48::InitEncoder(state.coder, EightBit(formatWord));
    return CODEC_OK;
}

CodecStatus Engine::InitDecoder(DecoderState &state, const CodecFormat &, uint32_t formatWord, uint32_t) {
    state.eightBit = EightBit(formatWord);
    vt48::InitDecoder(state.coder);
    return CODEC_OK;
}

CodecStatus Engine::EncodeFrame(EncoderState &state, const frame::EncodeCall<uint8_t> &call) {
    if (*call.inBytes == CODEC_END_OF_STREAM) {
        // The encoder holds nothing back.
        *call.inBytes = 0;
        *call.outBytes = 0;
        return CODEC_OK;
    }
    vt48::EncodeFrame(state.coder, call.in, call.out);
    *call.outBytes = kCodedBytes;
    return CODEC_OK;
}

CodecStatus Engine::DecodeFrame(DecoderState &state, const frame::DecodeCall<uint8_t> &call) {
    int16_t pcm[kFrameLength];
    vt48::DecodeFrame(state.coder, call.in, pcm);
    if (state.eightBit) {
        for (int n = 0; n < kFrameLength; ++n) call.out[n] = ToPcm8(pcm[n]);
        *call.outBytes = kFrameLength;
    } else {
        std::memcpy(call.out, pcm, sizeof pcm); // little-endian 16-bit PCM
        *call.outBytes = 2 * kFrameLength;
    }
    *call.inBytes = kCodedBytes;
    return CODEC_OK;
}

} // namespace vntr::vt48
