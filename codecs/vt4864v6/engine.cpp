#include "engine.hpp"

#include "bitstream.hpp"

#include <cstring>

namespace vntr::vt4864v6 {

CodecStatus Engine::SelectMode(uint32_t /*format*/, uint32_t options, CodecFormat &out) {
    out.delaySamples = 0;
    out.frameBytes = kFrameBytes;
    switch (options & (CODEC_OPT_4800 | CODEC_OPT_6400)) {
    case 0:
        out.codecId = kCodecIdVariable;
        out.optionMask = CODEC_OPT_4800 | CODEC_OPT_6400;
        out.bitRate = out.peakBitRate = 6400;
        out.maxCodedBytes = static_cast<uint16_t>(kRate6400.codedBytes);
        out.minCodedBytes = static_cast<float>(kRate4800.codedBytes);
        return CODEC_OK;
    case CODEC_OPT_4800:
        out.codecId = kCodecId4800;
        out.optionMask = 0;
        out.bitRate = out.peakBitRate = 4800;
        out.maxCodedBytes = static_cast<uint16_t>(kRate4800.codedBytes);
        out.minCodedBytes = static_cast<float>(kRate4800.codedBytes);
        return CODEC_OK;
    case CODEC_OPT_6400:
        out.codecId = kCodecId6400;
        out.optionMask = 0;
        out.bitRate = out.peakBitRate = 6400;
        out.maxCodedBytes = static_cast<uint16_t>(kRate6400.codedBytes);
        out.minCodedBytes = static_cast<float>(kRate6400.codedBytes);
        return CODEC_OK;
    default:
        return CODEC_ERR_OPTION;
    }
}

CodecStatus Engine::InitEncoder(EncoderState &state, const CodecFormat &, uint32_t, uint32_t options) {
    const bool variable = options == 0;
    vt4864v6::InitEncoder(state.coder, variable, options == CODEC_OPT_4800 ? kRate4800 : kRate6400);
    return CODEC_OK;
}

CodecStatus Engine::InitDecoder(DecoderState &state, const CodecFormat &, uint32_t, uint32_t) {
    vt4864v6::InitDecoder(state.coder);
    return CODEC_OK;
}

CodecStatus Engine::EncodeFrame(EncoderState &state, const frame::EncodeCall<uint8_t> &call) {
    vt4864v6::EncoderState &coder = state.coder;
    const RateMode *mode = &RateForCode(coder.rateCode);
    if (coder.variableRate) {
        // The call's flags choose this frame's rate.
        if (call.flags == 0 || call.flags == CODEC_OPT_6400)
            mode = &kRate6400;
        else if (call.flags == CODEC_OPT_4800)
            mode = &kRate4800;
        else
            return CODEC_ERR_OPTION;
    }
    if (*call.inBytes == CODEC_END_OF_STREAM) {
        // Nothing is held back between frames.
        *call.outBytes = 0;
        *call.inBytes = 0;
        return CODEC_OK;
    }
    const auto coded = static_cast<uint16_t>(mode->codedBytes);
    if (call.capacity < coded) {
        *call.outBytes = coded;
        return CODEC_ERR_ARGUMENT;
    }
    // The encoder's largest frame follows the row chosen for this one.
    call.format.maxCodedBytes = coded;

    int16_t pcm[kFrameLength];
    std::memcpy(pcm, call.in, sizeof pcm); // little-endian 16-bit PCM
    vt4864v6::EncodeFrame(coder, pcm, *mode, call.out);
    *call.outBytes = coded;
    return CODEC_OK;
}

CodecStatus Engine::DecodeFrame(DecoderState &state, const frame::DecodeCall<uint8_t> &call) {
    const RateMode &mode = FrameRate(call.in);
    const auto coded = static_cast<uint16_t>(mode.codedBytes);
    // The frame's own rate decides how many bytes it needs.
    if (call.offered < coded) {
        *call.inBytes = coded;
        return CODEC_ERR_NEED_DATA;
    }
    int16_t pcm[kFrameLength];
    vt4864v6::DecodeFrame(state.coder, call.in, pcm);
    std::memcpy(call.out, pcm, sizeof pcm);
    *call.inBytes = coded;
    *call.outBytes = kFrameBytes;
    return CODEC_OK;
}

} // namespace vntr::vt4864v6
