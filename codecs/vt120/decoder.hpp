// The decoder: the state of one decoder handle and the frame driver that
// rebuilds the envelope and the excitation, synthesises and post-filters.
//
// Frame types.  The 5 type bits at the start of a frame give the type of the
// frame after it; the decoder keeps them as the carried type, which is 3 at
// open.  A frame whose carried type is 3 is speech, read by the full layout
// of bitstream.hpp.  The encoder writes type 3 only, so other carried types
// come from a damaged or foreign stream; they decode to bounded sound that
// joins up with the speech around it:
//  - 2 (the frame holds an LSP vector and a 9-bit level) gives comfort noise:
//    white noise through the frame's envelope, at an output RMS of `level`
//    on the 16-bit scale;
//  - any other carried type: the frame carries no parameters.  After comfort
//    noise the noise goes on with the envelope and level last received;
//    otherwise the frame is taken for a lost speech frame and concealed: the
//    envelope is held and the last pitch period repeats, 0.9 times weaker
//    every sub-frame, silent after 40 sub-frames (160 ms).
#pragma once

#include "bitstream.hpp"
#include "constants.hpp"
#include "lsp_quant.hpp"

#include <vntr/dsp/postfilter.hpp>
#include <vntr/dsp/simd.hpp>

#include <cstdint>

namespace vntr::vt120 {

using dsp::Simd;

struct DecoderState {
    float history[kExcitationHistory]; // excitation, newest last
    Lsp previousLsp;
    float synthesis[kOrder];       // all-pole memory, newest last
    int lags[kSubframes];          // of the current frame (the post-filter's)
    int carriedType;               // the next frame's type: the last frame's type bits (3 at open)
    float lpc[kSubframes][kOrder]; // interpolated, per sub-frame
    float excitation[kFrameLength];
    float speech[kFrameLength]; // synthesised, before the post-filter
    FrameFields fields;
    dsp::PostFilterState post;
    // Frames without speech.
    bool comfortNoise;  // since a comfort-noise frame, until the next speech frame
    int noiseLevel;     // of the last comfort-noise frame
    int fadedSubframes; // concealed sub-frames since the last speech frame
    uint32_t noiseSeed;
    Simd simd; // the kernels this processor runs (same results for all)
};

void InitDecoder(DecoderState &state);

// Decodes one 12-byte frame into 64 samples on the 16-bit scale (not yet
// rounded or clipped).  Without the post-filter the output is the synthesis
// (for measurements; the state is the same either way).
void DecodeFrame(DecoderState &state, const uint8_t *coded, float *out, bool postFilter = true);

// The post-filter's settings: the fractional-delay tables, a 20-sample
// response for the tilt, the pitch gate's edges.
extern const dsp::PostFilterConfig kPostFilterConfig;

// How fast a concealed frame fades, and when it falls silent.
constexpr float kFadePerSubframe = 0.9f;
constexpr int kFadeSubframes = 40;

} // namespace vntr::vt120
