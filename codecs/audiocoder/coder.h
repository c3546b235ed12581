// The subband audio coder: one frame of 1152 samples per call in each
// direction. The three libraries run this engine with their own Config.
#pragma once

#include "config.h"
#include "filterbank.h"
#include "frame_io.h"

#include <cstdint>
#include <vntr/codec_api.h>

namespace vntr::audiocoder {

struct EncoderState {
    float highPassIn;  // previous input sample of the DC-removing filter
    float highPassOut; // previous output sample
    AnalysisState analysis;
    uint8_t previousAllocation[kSubbands]; // each subband's allocation in part 2 of the last frame
    int freeBits;                          // free bits of the pending output byte; 8: no pending byte
    uint8_t pendingByte;                   // the partly filled last byte of the previous frame
};

struct DecoderState {
    SynthesisState synthesis;
    int unreadBits;      // unread bits of the first input byte of the next call (8: a fresh byte)
    uint32_t clipped;    // output samples that were clipped to the 16-bit range (kept, not reported)
    FrameParams scratch; // the frame being read
};

void InitEncoder(EncoderState &s);
void InitDecoder(DecoderState &s);

// Encodes one frame of 1152 little-endian 16-bit samples, or, when *inBytes is
// CODEC_END_OF_STREAM, flushes the pending byte. `out` holds at least
// MaxFrameBits / 8 bytes.
CodecStatus EncodeFrame(const Config &config, EncoderState &s, const uint8_t *pcm, uint16_t *inBytes, uint8_t *out,
                        uint16_t *outBytes);

// Decodes one frame from the first `limit` bytes of `in` into 2304 bytes of
// PCM. Returns CODEC_ERR_NEED_DATA, changing nothing, when the frame runs past
// `limit`; otherwise sets *inBytes to the bytes consumed (a partly read last
// byte is handed back).
CodecStatus DecodeFrame(const Config &config, DecoderState &s, const uint8_t *in, uint16_t limit, uint16_t *inBytes,
                        uint8_t *pcm, uint16_t *outBytes);

// Encoder stages, exposed for tests.
int ScaleFactorIndex(float peak);
uint8_t SelectScaleFactors(uint8_t &s0, uint8_t &s1, uint8_t &s2);
void SmoothAllocation(uint8_t &history, uint8_t &a0, uint8_t &a1, uint8_t &a2);
void CleanUpAllocation(CleanUp rule, uint8_t (&allocation)[kSubbands]);
uint8_t QuantiseSample(float sample, float scale, const Quantiser &q);
float DequantiseSample(uint32_t code, const Quantiser &q);
// A synthesised sample to 16 bits: rounded half away from zero, saturated, and
// `clipped` counted up when it had to be (not a number gives 0, counted).
int16_t RoundToPcm(float x, uint32_t &clipped);

} // namespace vntr::audiocoder
