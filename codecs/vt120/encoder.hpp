// The encoder: the state of one encoder handle and the frame driver.
//
// Each frame of 64 new samples is pre-filtered behind the 148 samples kept
// from before; the two LPC windows cover samples 0..179 and 32..211 of that
// 212-sample buffer, and the frame coded is samples 74..137, centred in the
// windows (so decoded speech lags the input by 74 samples plus the frame).
// The second window's set is quantised as LSPs, the coded sub-frames are
// perceptually weighted with each window's set, and each sub-frame is coded
// by analysis by synthesis: the closed-loop pitch (3 lags x 128 predictor
// entries), then four pulses and their amplitude on what the pitch leaves.
// The encoder runs the decoder's excitation model on its own choices, so its
// excitation history and LSP memory stay the decoder's.
#pragma once

#include "bitstream.hpp"
#include "constants.hpp"
#include "lsp_quant.hpp"
#include "pitch_search.hpp"
#include "tables.hpp"

#include <vntr/dsp/pitch_analysis.hpp>
#include <vntr/dsp/pitch_predictor.hpp>
#include <vntr/dsp/simd.hpp>

#include <cstdint>

namespace vntr::vt120 {

using dsp::Simd;

constexpr int kSpeechHistory = 148;
constexpr int kSpeechBuffer = kSpeechHistory + kFrameLength;
constexpr int kCodedStart = 74;       // first sample of the coded frame in the speech buffer
constexpr int kWeightedHistory = 145; // weighted speech before the frame (open-loop lags up to 142 + 3)
constexpr int kShapingHistory = 145;  // weighted synthesis before the sub-frame (the shaping delay line)
constexpr int kOpenLoopMaxLag = 142;

// Second-order high-pass of the input: two past inputs and outputs, newest first.
struct PreFilterState {
    float x1, x2, y1, y2;
};

// What the encoder decided for one sub-frame, for tools that watch it (the
// predictor codebook's training, the tests).  Pointers are valid during the call.
struct SubframeTrace {
    int subframe;
    const PitchChoice *pitch;
    const float *target;     // [kSubframeLength] the closed-loop target
    const float *response;   // [kSubframeLength] the cascade's impulse response
    const float *excitation; // [kSubframeLength] as it entered the history
    int amplitudeIndex;
};

class EncoderObserver {
public:
    virtual ~EncoderObserver() = default;
    virtual void OnSubframe(const SubframeTrace &trace) = 0;
};

// How hard the encoder searches the fixed format.  The defaults are the
// described encoder's; every setting writes frames of the same format that
// the one decoder reads, so the tuned encoder differs in its choices only.
struct EncoderTuning {
    // LSP: candidates the four-stage search keeps (1..16), and how many of
    // its finalists are compared by the weighted synthesis filters'
    // responses, both sub-frames' (1: the search's own choice by distance).
    int lspKeep = kLspCandidates;
    int lspFinalists = 1;
    // Sub-frame 0 tries the lags within lagReach of the open-loop lag;
    // allLagSteps lets sub-frame 1 try all four lags its 2-bit code reaches
    // (lag0 - 2 .. lag0 + 1) instead of lag0 - 1 .. lag0 + 1.
    int lagReach = 1;
    bool allLagSteps = false;
    // (lag, entry) pairs of the pitch search carried on to the pulse and
    // amplitude searches, the pair leaving the least weighted error kept.
    int pitchFinalists = 1;
    // A pair after the first is carried on only when its score (half the
    // drop in error its prediction brings) is within this fraction of the
    // best pair's.
    float pitchMargin = 1.0f;
    // A later pair's pulse search gives up when the set of each track's
    // largest correlation falls short of what the pair must gain by more
    // than this factor (SearchPulsesAbove); 0: always searched in full.
    float pulseSeedReach = 0.0f;

    bool Described() const {
        return lspKeep == kLspCandidates && lspFinalists == 1 && lagReach == 1 && !allLagSteps && pitchFinalists == 1 &&
               pitchMargin == 1.0f && pulseSeedReach == 0.0f;
    }
};
constexpr int kMaxPitchFinalists = 8;
constexpr int kMaxLagReach = 16;

// The tuned encoder's settings (chosen by perceptual score and log-spectral
// distance on held-out speech).
EncoderTuning TunedEncoder();

struct EncoderState {
    float speech[kSpeechHistory]; // pre-filtered, newest last
    PreFilterState pre;
    Lsp previousLsp;
    float weightingInput[kOrder];                    // W(z) on the speech: past inputs, newest last
    float weightingOutput[kOrder];                   // and past outputs
    float weighted[kWeightedHistory + kFrameLength]; // weighted speech: history, then this frame
    float history[kExcitationHistory];               // excitation, newest last (the decoder's)
    float synthesis[kOrder];                         // cascade: 1/A^(z) output, newest last
    float weightedSynthesis[kShapingHistory];        // cascade: W(z) output, newest last
    const dsp::PredictorCodebook *predictor;         // null: the built-in codebook
    Simd simd;                                       // the kernels this processor runs (same results for all)
    EncoderTuning tuning;

    // This frame.
    float buffer[kSpeechBuffer]; // speech history, then the new samples, pre-filtered
    Lsp lsp;                     // unquantised, from the second window
    Lsp quantisedLsp;
    float lpc[kSubframes][kOrder];          // unquantised (the second bandwidth-expanded)
    float quantisedLpc[kSubframes][kOrder]; // interpolated, quantised
    int openLoopLag;
    dsp::HarmonicWeighting shaping[kSubframes];
    float shaped[kFrameLength]; // shaped weighted speech: the targets' base
    int lags[kSubframes];
    float excitation[kFrameLength];
    FrameFields fields;
};

void InitEncoder(EncoderState &state, const EncoderTuning &tuning = {});

// The front end of a frame: appends and pre-filters the 64 samples, runs
// both LPC analyses and converts the second set to LSPs (state.lsp), for the
// tools that train on what the encoder quantises.  EncodeFrame runs it first.
void AnalyseFrame(EncoderState &state, const float *pcm);

// Codes 64 samples into 12 bytes.
void EncodeFrame(EncoderState &state, const float *pcm, uint8_t *out, EncoderObserver *observer = nullptr);

} // namespace vntr::vt120
