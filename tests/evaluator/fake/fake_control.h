// Control block of the fake codec library built for the evaluator's tests.
// A test opens the library itself, finds `fake_control` and sets how the
// library behaves; the evaluator loading the same file shares the block.
#pragma once

#include <stdint.h>

#define FAKE_MAX_RECORDED 4096

typedef struct FakeControl {
    // What the library says about itself.
    uint32_t formatMask;
    uint32_t infoOptionMask;
    int32_t infoStatus; // non-zero: GetCodecInfo fails with it
    int16_t codecId;    // with option 0x10000 the id is codecId + 1, with 0x20000 codecId + 2
    uint16_t frameBytes;
    uint16_t maxCodedBytes;
    float minCodedBytes;
    uint32_t bitRate;
    // The coded frame sizes cycle from minFrame to maxFrame (first byte = size).
    uint16_t minFrame;
    uint16_t maxFrame;
    uint16_t flushBytes; // bytes written by the end-of-stream call
    // Failures.
    int32_t openEncoderStatus;
    int32_t openDecoderStatus;
    int32_t encodeFailAt; // call index (0-based) that fails, -1 none
    int32_t encodeFailStatus;
    int32_t decodeFailAt;
    int32_t decodeFailStatus;
    int32_t closeStatus;
    int32_t encodeOverclaim; // non-zero: claim maxCodedBytes + 5 coded bytes
    // What happened.
    int32_t encoderOpens, encoderCloses, decoderOpens, decoderCloses;
    int32_t encodeCalls, flushCalls, decodeCalls, needDataReturns;
    uint32_t openedFormat, openedOptions, decoderOptions;
    uint16_t offers[FAKE_MAX_RECORDED]; // the coded count offered to each Decode call
    int32_t offerCount;
    uint32_t frameDelayUs; // time taken over every encoded frame
    // Frames that are not byte-aligned: each coded frame is decoded by this
    // many calls that consume no whole byte, then by one that consumes it,
    // every call producing a frame.  0xFFFF: never consumes.
    uint16_t decodeCallsWithoutAByte;
    int32_t decodeIdle; // non-zero: Decode succeeds, consuming and producing nothing
} FakeControl;

#ifdef __cplusplus
extern "C" {
#endif
void fake_reset(void);
#ifdef __cplusplus
}
#endif
