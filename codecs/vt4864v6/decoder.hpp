// The decoder: state of one decoder handle and the frame driver that rebuilds
// the parameters, the excitation, the synthesis and the post-filtered output.
#pragma once

#include "lsp_quant.hpp"
#include "postfilter.hpp"
#include "rate_mode.hpp"

#include <cstdint>

namespace vntr::vt4864v6 {

struct DecoderState {
    uint8_t rateCode; // of the current frame
    Lsp previousLsp;
    float lpc[kMaxSubframes][kOrder]; // interpolated, per sub-frame
    float past[kPastExcitation];
    float synthesis[kOrder]; // synthesis filter memory, newest last
    int lags[kMaxSubframes];
    float excitation[kFrameLength];
    float speech[kFrameLength];
    float output[kFrameLength];
    uint8_t coded[kMaxCodedBytes];
    VocoderParams params;
    int16_t pcm[kFrameLength];
    PostFilterState post;
    uint32_t ditherState;
};

void InitDecoder(DecoderState &state);

// Decodes one coded frame (its rate row from the first byte; the caller has
// checked that FrameRate(coded).codedBytes bytes are there) into 240 samples.
// Without dither the excitation equals the encoder's.
void DecodeFrame(DecoderState &state, const uint8_t *coded, int16_t *pcm, bool dither = true);

} // namespace vntr::vt4864v6
