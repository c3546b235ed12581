// The encoder: the state of one encoder handle and the frame driver that
// runs the analysis, the LSF quantiser and the closed-loop coding of the
// three subframes.
#pragma once

#include "analysis.hpp"
#include "bitstream.hpp"
#include "lsf.hpp"
#include "searches.hpp"

#include <vntr/dsp/schur.hpp>

#include <cstdint>

namespace vntr::vt48 {

// What the encoder decided for one subframe, for the tools and tests that
// watch it.  Pointers are valid during the call.
struct SubframeTrace {
    int subframe;
    const float *target;   // [length] the weighted target
    const float *response; // [length] impulse response of the weighted synthesis filter
    AdaptiveResult adaptive;
    FixedResult fixed;
    const float *excitation; // [length] as it entered the history
};

class EncoderObserver {
public:
    virtual ~EncoderObserver() = default;
    virtual void OnSubframe(const SubframeTrace &trace) = 0;
};

// How the encoder searches.  The bitstream and the decoder are the same for
// all; a refinement only chooses other parameters.  The library codes with
// none of them: they were chosen for the waveform match, and a perceptual
// score and listening both prefer the plain searches (the sharpening inside
// the searches costs most, the input filter a little).  They stay for the
// tools (vt48_code_file --refinements) and for tuned encoders built as
// libraries of their own.
enum EncoderRefinement : uint32_t {
    kNoRefinements = 0,
    kCarriedWeighting = 1u << 0,   // weighted error filter memory carried across subframes
    kFullFixedSearch = 1u << 1,    // every fixed code, chosen with its quantised gain
    kJointGains = 1u << 2,         // pitch and codebook gain indices chosen together
    kSharpenedSynthesis = 1u << 3, // the decoder's pitch sharpening inside the searches and the synthesis
    kEqualisedInput = 1u << 4,     // an input filter that gives the whole chain linear phase
    kAllRefinements = kCarriedWeighting | kFullFixedSearch | kJointGains | kSharpenedSynthesis | kEqualisedInput,
    // The set that matches the waveform best (the full fixed search buys nothing
    // measurable once the gains are chosen jointly, and costs a fifth of the time).
    kWaveformRefinements = kCarriedWeighting | kJointGains | kSharpenedSynthesis | kEqualisedInput,
};

struct EncoderState {
    bool eightBit; // input samples are unsigned bytes
    uint32_t refinements;
    Simd simd; // the kernels this processor runs (same results for all)
    HighPassState highPass;
    float inputHistory[kInputFilterTaps - 1]; // raw input before the frame, oldest first (kEqualisedInput)
    float speech[kSpeechBuffer];              // 84 carried samples, then the frame
    float previousLowPassed[kFrameLength];    // positions 24..183 of the previous frame's buffer through PitchLowPass
    float nextLowPassed[kFrameLength];        // the same of this frame's, for the next
    Lsf previousLsf;                          // quantised
    int previousLag;                          // open-loop lag of the previous frame
    int lagBefore;                            // and of the frame before
    bool quiet;
    int openLoopLag;
    Lsf lsf; // this frame's, unquantised
    float excitation[kHistory];
    float smoothed[kHistory];    // the decoder's sharpened history (kSharpenedSynthesis)
    float synthesis[kOrder];     // last outputs of 1/A(z), oldest first
    float weightedError[kOrder]; // last weighted errors, oldest first (kCarriedWeighting)
    float speechError[kOrder];   // last speech less synthesis, oldest first (kCarriedWeighting)
    float weightNumerator;       // the error weighting A(z/g1)/A(z/g2) of kCarriedWeighting
    float weightDenominator;
    float lpc[kSubframes][kOrder];
    float window[kWindowLength];
    dsp::SchurWorkspace schur;
    FrameParams params;
};

void InitEncoder(EncoderState &state, bool eightBit, uint32_t refinements = kNoRefinements);

// The front end of a frame: input conversion, high-pass, quiet flag,
// open-loop pitch and the unquantised LSFs (state.lsf).  For the tools that
// train on what the encoder sees; follow it with CodeFrame or AdvanceFrame.
//   in pcm: 160 bytes (8-bit) or 320 bytes (16-bit little-endian)
void PrepareFrame(EncoderState &state, const uint8_t *pcm);

// Quantises and codes the prepared frame into 12 bytes, then advances the buffers.
void CodeFrame(EncoderState &state, uint8_t *out, EncoderObserver *observer = nullptr);

// Moves the speech buffers on to the next frame (the last step of CodeFrame).
void AdvanceFrame(EncoderState &state);

inline void EncodeFrame(EncoderState &state, const uint8_t *pcm, uint8_t *out, EncoderObserver *observer = nullptr) {
    PrepareFrame(state, pcm);
    CodeFrame(state, out, observer);
}

} // namespace vntr::vt48
