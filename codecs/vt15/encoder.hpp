// The VT15 encoder.  It works one frame behind its input: each call analyses
// the newest frame into the `next` record, corrects the `current` record from
// its neighbours, quantises and packs it, and shifts the records.  The first
// call therefore codes the initial record, and the end-of-stream call codes
// the last analysed frame: N frames of input give N + 1 coded frames.
#pragma once

#include "analysis.hpp"
#include "bitstream.hpp"
#include "pitch_analysis.hpp"
#include "quantiser.hpp"
#include "record.hpp"
#include "tuning.hpp"
#include "vad.hpp"

#include <cstdint>

namespace vntr::vt15 {

constexpr int kHangoverFrames = 3;

struct EncoderState {
    const LsfCodebook *codebook;
    FrameRecord previous;
    FrameRecord current;
    FrameRecord next;
    InputFilters filters;
    SignalHistory history;
    float window[kLpcWindow];
    VadState vad;
    PitchAverage pitchAverage;
    int hangover;       // inactive frames since the last active one (3: none left to bridge)
    bool analysedFrame; // false until the first frame has been analysed
    BitRemainder remainder;
    QuantiserTrace trace; // of the frame packed last
    EncoderTuning tuning;
};

void InitEncoder(EncoderState &state, const EncoderTuning &tuning = {});

// Codes one frame of input; writes the whole bytes completed (0..6).
//   in pcm [kFrameLength] (16-bit scale)     out [kMaxCodedBytes]; returns the bytes written
int EncodeFrame(EncoderState &state, const float *pcm, uint8_t *out);

// End of stream: codes the record the encoder still holds and hands out the
// last, incomplete byte (1..7 bytes in all).
int FlushEncoder(EncoderState &state, uint8_t *out);

// The activity of the newest frame from the detector's decision: an
// inactive frame right after speech stays active while the counter is below
// 3 (two frames), and a lone active frame between inactive ones (`current`
// after an inactive `previous`) is turned inactive and unvoiced.
bool ApplyHangover(int &counter, bool detected, const FrameRecord &previous, FrameRecord &current);

// The analysis of the newest frame in the histories into `next`, with the
// activity decision and its hang-over (which may turn `current` inactive).
void AnalyseNewestFrame(EncoderState &state);

} // namespace vntr::vt15
