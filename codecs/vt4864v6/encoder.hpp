// The encoder: state of one encoder handle and the frame driver that runs
// the input filter, LPC/LSP analysis and quantisation, perceptual and
// harmonic weighting, and the closed-loop coding of every sub-frame.
#pragma once

#include "lsp_quant.hpp"
#include "pitch_search.hpp"
#include "pulse_search.hpp"
#include "pulse_tree.hpp"
#include "rate_mode.hpp"
#include "tables.hpp"

#include <cstdint>

namespace vntr::vt4864v6 {

constexpr int kCarryOver = 120;
constexpr int kCodedFrameStart = 60; // first speech-buffer sample of the frame being coded
constexpr int kWeightedSynthesisHistory = 145;

// What the encoder decided for one sub-frame, for tools that watch it (the
// predictor codebook training, the tests).  Pointers are valid during the call.
struct SubframeTrace {
    const RateMode *mode;
    int subframe;
    int lag;
    bool differential;
    int predictorEntry;
    int gainIndex;
    const PredictorStatistics *statistics; // of the five filtered predictor views against the target
    const float *target;                   // [L] the closed-loop target
    const float *excitation;               // [L] the sub-frame's excitation as it entered the past excitation
};

class EncoderObserver {
public:
    virtual ~EncoderObserver() = default;
    virtual void OnSubframe(const SubframeTrace &trace) = 0;
};

// How the encoder searches.  The bit stream and the decoder are the same for
// all; a search only chooses other parameters.  The library searches as
// described (none of these); the tuned library VT4864 HQ
// (codecs/tuned/vt4864_hq.hpp) takes them.
enum EncoderSearch : uint32_t {
    kDescribedSearches = 0,
    kExhaustivePulses = 1u << 0, // every path of the pulse tree, exact correlations, each pulse signed by its sample
    kClosedLoopLag = 1u << 1,    // lags within +-1 of the open-loop or differential choice, by the predictor's score
};

struct EncoderState {
    bool variableRate;
    uint32_t searches;                  // EncoderSearch flags
    dsp::Simd simd;                     // the pulse tree's kernel on this processor (same choices for all)
    uint8_t rateCode;                   // row of the last coded frame
    const PredictorCodebook *predictor; // null: the built-in codebook

    float speech[kSpeechBuffer];
    float carry[kCarryOver];
    InputFilterState input;
    Lsp previousLsp;

    float lpc[kMaxSubframes][kOrder];          // unquantised (the last one bandwidth-expanded)
    float quantisedLpc[kMaxSubframes][kOrder]; // interpolated, quantised
    float predictionError[kMaxSubframes];
    int openLoopLag[kMaxSubframes];
    HarmonicWeighting harmonic[kMaxSubframes];

    float weightedSpeech[kWeightedBuffer]; // history, then the current sub-frame
    float weightingInput[kOrder];          // speech weighting memories, newest last
    float weightingOutput[kOrder];
    float past[kPastExcitation];
    float synthesis[kOrder];                            // synthesis memory, newest last
    float weightedSynthesis[kWeightedSynthesisHistory]; // newest last; its tail is the weighted-output memory
    float target[kFrameLength];                         // target bases of the frame's sub-frames
    float excitation[kFrameLength];
    PulseBudgets budgets;
    VocoderParams params;
    uint8_t packed[kMaxCodedBytes];
};

void InitEncoder(EncoderState &state, bool variableRate, const RateMode &initial,
                 uint32_t searches = kDescribedSearches);

// The front end of a frame, for the tools that train on what the encoder
// sees: fills the speech buffer through the input filter, then analyses every
// sub-frame's LPC and returns the frame's unquantised LSP vector (from the
// last window, which is the same at both rates).
void PrepareSpeech(EncoderState &state, const int16_t *pcm);
Lsp AnalyseEnvelope(EncoderState &state, const RateMode &mode);

// Codes 240 samples at the given rate into mode.codedBytes bytes.
void EncodeFrame(EncoderState &state, const int16_t *pcm, const RateMode &mode, uint8_t *out,
                 EncoderObserver *observer = nullptr);

} // namespace vntr::vt4864v6
