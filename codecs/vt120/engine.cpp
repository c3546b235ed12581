#include "engine.hpp"

namespace vntr::vt120 {

CodecStatus Engine::SelectMode(uint32_t /*format*/, uint32_t /*options*/, CodecFormat &out) {
    out.optionMask = 0;
    out.bitRate = out.peakBitRate = 12000;
    out.delaySamples = 0;
    out.codecId = kCodecId;
    out.frameBytes = kFrameBytes;
    out.maxCodedBytes = kCodedBytes;
    out.minCodedBytes = static_cast<float>(kCodedBytes);
    return CODEC_OK;
}

CodecStatus Engine::InitEncoder(EncoderState &state, const CodecFormat &, uint32_t, uint32_t) {
    vt120::InitEncoder(state.coder);
    return CODEC_OK;
}

CodecStatus Engine::InitDecoder(DecoderState &state, const CodecFormat &, uint32_t, uint32_t) {
    vt120::InitDecoder(state.coder);
    return CODEC_OK;
}

CodecStatus Engine::EncodeFrame(EncoderState &state, const frame::EncodeCall<float> &call) {
    if (*call.inBytes == CODEC_END_OF_STREAM) {
        // The encoder holds no frame back: nothing to flush.
        *call.inBytes = 0;
        *call.outBytes = 0;
        return CODEC_OK;
    }
    vt120::EncodeFrame(state.coder, call.in, call.out);
    *call.outBytes = kCodedBytes;
    return CODEC_OK;
}

CodecStatus Engine::DecodeFrame(DecoderState &state, const frame::DecodeCall<float> &call) {
    vt120::DecodeFrame(state.coder, call.in, call.out);
    *call.inBytes = kCodedBytes;
    *call.outBytes = kFrameLength;
    return CODEC_OK;
}

} // namespace vntr::vt120
