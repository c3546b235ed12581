#include "decoder.hpp"

#include <cstring>

namespace vntr::vt15 {

void InitDecoder(DecoderState &state) {
    std::memset(&state, 0, sizeof state);
    state.codebook = &DefaultLsfCodebook();
    state.bitOffset = 0;
    InitDifferenceHistory(state.history, 0);
    InitSynthesis(state.synthesis);
}

DecodeResult DecodeFrame(DecoderState &state, const uint8_t *in, int offered, int *consumed, float *out) {
    FrameFields frame;
    const UnpackResult read = UnpackFrame(in, offered, state.bitOffset, state.history.frameClass, frame);
    if (!read.complete) return DecodeResult::NeedMoreData;
    state.bitOffset = read.bitOffset;
    *consumed = read.bytesConsumed;
    FrameParameters parameters;
    DecodeParameters(frame, *state.codebook, state.history, parameters);
    SynthesiseFrame(state.synthesis, parameters, out);
    return DecodeResult::Decoded;
}

} // namespace vntr::vt15
