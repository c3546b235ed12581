#include "engine.hpp"

namespace vntr::vt15 {

CodecStatus Engine::SelectMode(uint32_t /*format*/, uint32_t /*options*/, CodecFormat &out) {
    out.optionMask = 0;
    out.bitRate = 1500;
    out.peakBitRate = 2134;
    out.delaySamples = 756;
    out.codecId = kCodecId;
    out.frameBytes = kFrameBytes;
    out.maxCodedBytes = kMaxCodedBytes;
    out.minCodedBytes = 0.25f;
    return CODEC_OK;
}

CodecStatus Engine::InitEncoder(EncoderState &state, const CodecFormat &, uint32_t, uint32_t) {
    vt15::InitEncoder(state.coder);
    return CODEC_OK;
}

CodecStatus Engine::InitDecoder(DecoderState &state, const CodecFormat &, uint32_t, uint32_t) {
    vt15::InitDecoder(state.coder);
    return CODEC_OK;
}

CodecStatus Engine::EncodeFrame(EncoderState &state, const frame::EncodeCall<float> &call) {
    if (*call.inBytes == CODEC_END_OF_STREAM) {
        // Nothing is consumed; the held record and the last partial byte go out.
        *call.outBytes = static_cast<uint16_t>(FlushEncoder(state.coder, call.out));
        *call.inBytes = 0;
        return CODEC_OK;
    }
    *call.outBytes = static_cast<uint16_t>(vt15::EncodeFrame(state.coder, call.in, call.out));
    return CODEC_OK;
}

CodecStatus Engine::DecodeFrame(DecoderState &state, const frame::DecodeCall<float> &call) {
    int consumed = 0;
    if (vt15::DecodeFrame(state.coder, call.in, *call.inBytes, &consumed, call.out) == DecodeResult::NeedMoreData) {
        return CODEC_ERR_NEED_DATA;
    }
    *call.inBytes = static_cast<uint16_t>(consumed);
    *call.outBytes = static_cast<uint16_t>(kFrameLength);
    return CODEC_OK;
}

} // namespace vntr::vt15
