// The 32-band polyphase analysis and synthesis filter banks of ISO/IEC
// 11172-3. Analysis and synthesis in a row reconstruct the input delayed by
// 481 samples, at about 86 dB SNR (the bank is not perfectly reconstructing).
#pragma once

#include "config.h"

#include <array>

namespace vntr::audiocoder {

// State of the analysis bank: the last 512 input samples as a ring, newest
// at the lowest position.
struct AnalysisState {
    std::array<float, 512> ring;
    int offset; // 0 at start
};

// State of the synthesis bank: the 1024-value matrixing history.
struct SynthesisState {
    std::array<float, 1024> v;
    int offset; // 64 at start, so that the first block is written at 0
};

void ResetAnalysis(AnalysisState &s);
void ResetSynthesis(SynthesisState &s);

// in  [32] one block of samples on the 16-bit scale, oldest first
// out [32] subband samples, full scale about +-1
void Analyse(AnalysisState &s, const float *in, float *out);

// in  [32] subband samples
// out [32] PCM before rounding, on the 16-bit scale
void Synthesise(SynthesisState &s, const float *in, float *out);

} // namespace vntr::audiocoder
