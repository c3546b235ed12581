// Sizes of the VT48 frame: 160 samples at 8000 Hz in three subframes, a
// 10th-order predictor, a 148-sample excitation history.
#pragma once

#include <cstdint>

namespace vntr::vt48 {

constexpr int kFrameLength = 160;
constexpr int kSubframes = 3;
constexpr int kSubframeLength[kSubframes] = {54, 53, 53};
constexpr int kSubframeStart[kSubframes] = {0, 54, 107};
constexpr int kMaxSubframeLength = 54;
constexpr int kOrder = 10;
constexpr int kCodedBytes = 12;
constexpr int kParameters = 22;

// The excitation history: the longest lag reads its first sample.
constexpr int kHistory = 148;
constexpr int kMinCodedLag = 20;   // the 7-bit lag field counts from here
constexpr int kMaxLag = 147;       // the longest lag the history serves
constexpr int kLagDeltaOffset = 7; // a 4-bit delta d moves the lag by d - 7

// Encoder speech buffer: 84 samples carried from the previous frame, then the
// 160 new ones; the predictor window covers the last 220.
constexpr int kCarried = 84;
constexpr int kSpeechBuffer = kCarried + kFrameLength;
constexpr int kWindowStart = 24;
constexpr int kWindowLength = kSpeechBuffer - kWindowStart;

} // namespace vntr::vt48
