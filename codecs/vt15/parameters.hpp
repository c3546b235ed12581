// From coded fields to frame parameters, and the value mappings that the
// encoder's quantisers share with the decoder: pitch from its log-uniform
// index, the gains, the voicing patterns, and the ordering and spacing rule
// that every rebuilt LSF vector passes.
#pragma once

#include "frame_classes.hpp"
#include "lsf_codebook.hpp"

namespace vntr::vt15 {

struct FrameParameters {
    float pitch;           // samples
    float voicing[kBands]; // band strengths, 0 or 1
    float jitter;          // 0 or 0.25
    float gain[2];         // dB, first and second half of the frame
    float lsf[kOrder];     // radians, increasing
};

// What both sides keep of the previous frame for the difference codes.
struct DifferenceHistory {
    int frameClass;
    int pitchIndex;
    int gain2Index;
    float gain2;       // dB
    float lsf[kOrder]; // the rebuilt (ordered and spaced) vector
};

constexpr int kPitchLevels = 64;
constexpr float kLogPitchMin = 1.30103f; // log10 20
constexpr float kLogPitchMax = 2.20412f; // log10 160
constexpr int kUnvoicedPitchIndex = 28;
constexpr float kUnvoicedPitch = 50.0f;
constexpr float kMinPitch = 20.0f;
constexpr float kMaxPitch = 160.0f;

constexpr int kGain2Levels = 32;
constexpr float kGain2Min = 10.0f; // dB
constexpr float kGain2Step = 2.1612904f;
constexpr float kGain1Min = 10.0f;
constexpr float kGain1Max = 77.0f;
constexpr int kGain1Levels = 7; // indices 1..7; 0 is the mean of the two second gains

constexpr float kLsfMinSpacing = 0.03926991f; // pi / 80
constexpr float kLsfAcceptedSpacing = 0.03887721f;

float PitchFromIndex(int index);
int NearestPitchIndex(float pitch);
float Gain2FromIndex(int index);
int NearestGain2Index(float gainDb);
// First gain of index g1 between the frame's second gain g2 and the previous
// frame's gp: index 0 is their mean, 1..7 seven levels from lo to hi.
float Gain1FromIndex(int g1, float g2, float gp);
// The seven levels' range: lo = max(min(g2, gp) - 6, 10), hi = min(max(g2, gp) + 6, 77).
void Gain1Range(float g2, float gp, float &lo, float &hi);

// Band strengths of a voicing pattern: band 1 voiced, bands 2..5 from bits
// 3..0; pattern 1 counts as 0.
void VoicingFromPattern(int pattern, float *voicing);

// pi k / 11, k = 1..10: the vector both sides start from.
void InitialLsf(float *lsf);

// Orders the vector by adjacent swaps (at most ten passes) and spreads
// frequencies closer than pi/80 apart (at most ten passes).  Values outside
// 0.01 .. pi - 0.01 are first brought inside, which only a damaged stream
// can need.
//   in/out lsf [kOrder]
void OrderAndSpaceLsf(float *lsf);

// Rebuilds the LSF vector of a class from its stage fields (class 5 repeats
// the previous vector).
//   in previous [kOrder]     out lsf [kOrder]
void RebuildLsf(const FrameFields &frame, const LsfCodebook &codebook, const float *previous, float *lsf);

// Decodes one frame's fields into its parameters and makes the frame the
// history of the next.  Every index stays inside its table whatever the bits.
void DecodeParameters(const FrameFields &frame, const LsfCodebook &codebook, DifferenceHistory &history,
                      FrameParameters &out);

void InitDifferenceHistory(DifferenceHistory &history, int pitchIndex);

} // namespace vntr::vt15
