// The decoder: the state of one decoder handle and the frame driver that
// rebuilds the envelope, the excitation, the synthesis and the output filter.
#pragma once

#include "bitstream.hpp"
#include "lsf.hpp"

#include <cstdint>

namespace vntr::vt48 {

struct DecoderState {
    Lsf previousLsf;
    float excitation[kHistory]; // before sharpening, as the encoder keeps it
    float smoothed[kHistory];   // after sharpening
    float synthesis[kOrder];    // last outputs of 1/A(z), oldest first
    float outputIn[4];          // output filter memories, newest first
    float outputOut[4];
    float lpc[kSubframes][kOrder];
    int lags[kSubframes];
    FrameParams params;
};

void InitDecoder(DecoderState &state);

// Decodes 12 coded bytes into 160 samples of 16-bit PCM.
void DecodeFrame(DecoderState &state, const uint8_t *coded, int16_t *pcm);

// The output conversion: above 32767 gives 32767, below -32767 gives -32768,
// anything else is truncated toward zero.
int16_t ToPcm16(float z);

// An 8-bit unsigned sample from a 16-bit one: its high byte plus 128.
inline uint8_t ToPcm8(int16_t s) {
    return static_cast<uint8_t>((static_cast<uint16_t>(s) >> 8) ^ 0x80u);
}

} // namespace vntr::vt48
