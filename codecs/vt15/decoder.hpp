// The VT15 decoder: reads one frame from the continuous bit stream, decodes
// its parameters and synthesises 180 samples.
#pragma once

#include "bitstream.hpp"
#include "parameters.hpp"
#include "synthesis.hpp"

#include <cstdint>

namespace vntr::vt15 {

struct DecoderState {
    const LsfCodebook *codebook;
    int bitOffset; // where the next frame begins in the first byte offered
    DifferenceHistory history;
    SynthesisState synthesis;
};

void InitDecoder(DecoderState &state);

enum class DecodeResult { Decoded, NeedMoreData };

// Decodes the frame that starts at the kept bit offset of in[0], looking at
// no more than kMaxCodedBytes of the `offered` bytes.  On a frame that runs
// past them the state stays exactly as it was.
//   out [kFrameLength]; *consumed: the bytes read completely
DecodeResult DecodeFrame(DecoderState &state, const uint8_t *in, int offered, int *consumed, float *out);

} // namespace vntr::vt15
