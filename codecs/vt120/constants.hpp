// The numbers that shape a VT120 frame: 64 samples (8 ms) in two sub-frames
// of 32, coded into 12 bytes.
#pragma once

namespace vntr::vt120 {

constexpr int kFrameLength = 64;
constexpr int kSubframes = 2;
constexpr int kSubframeLength = 32;
constexpr int kOrder = 10;

// LSP quantiser: four stages of 64 vectors, searched keeping 8 candidates.
constexpr int kLspStages = 4;
constexpr int kLspStageSize = 64;
constexpr int kLspCandidates = 8;

// Pitch lags.  The encoder writes lag0 in 18..143 and lag1 within one sample
// of it; the decoder reads lag0 up to 145, and a sub-frame-1 code of 0 after
// lag0 = 145 (which the encoder never writes) means lag 146.
constexpr int kMinLag = 18;
constexpr int kMaxLag = 145;
constexpr int kMaxDecodedLag = 146;
// Excitation history: the longest decoded lag plus the two samples the 5-tap
// predictor reaches beyond it.
constexpr int kExcitationHistory = kMaxDecodedLag + 2;
constexpr int kAdaptiveLength = kSubframeLength + 4;

// Fixed excitation: four signed pulses, pulse j on track j (positions = j mod 4).
constexpr int kPulses = 4;
constexpr int kAmplitudeLevels = 32;

constexpr int kCodedBytes = 12;
constexpr int kCodedBits = 8 * kCodedBytes;

// Frame types, each frame's type bits giving the type of the frame after it:
// 3 is speech, the only type the encoder writes; 2 would carry an LSP vector
// and a noise level (comfort noise).  The decoder's handling of the types
// other than 3 is explained in decoder.hpp.
constexpr int kSpeechFrame = 3;
constexpr int kComfortNoiseFrame = 2;

} // namespace vntr::vt120
