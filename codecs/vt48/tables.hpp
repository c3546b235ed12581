// Constant tables of VT48: the LSF quantiser, the pitch and codebook gains
// with the encoder's decision thresholds, and the decoder's output filter.
// The even-LSF tables are trained (tools/train/vt48); the rest are fixed by
// the coded format.
#pragma once

#include "constants.hpp"

#include <array>

namespace vntr::vt48 {

// --- LSF quantiser ---
constexpr int kLsfBits[kOrder] = {3, 4, 4, 3, 4, 3, 3, 2, 3, 1};
constexpr int kEvenLsfTables = 5;
constexpr int kEvenLsfSize[kEvenLsfTables] = {8, 16, 16, 8, 8};
constexpr int kMaxEvenLsfSize = 16;

// Absolute values of LSFs 0, 2, 4, 6, 8 (radians), increasing; the first and
// last entry of each are fixed by the format, the rest are trained.
struct EvenLsfTables {
    std::array<std::array<float, kMaxEvenLsfSize>, kEvenLsfTables> value;
    constexpr float at(int table, int index) const { return value[table][index]; }
    constexpr float first(int table) const { return value[table][0]; }
    constexpr float last(int table) const { return value[table][kEvenLsfSize[table] - 1]; }
};
extern const EvenLsfTables kEvenLsf;
constexpr float kEvenLsfFirst[kEvenLsfTables] = {0.0786f, 0.3299f, 0.7854f, 1.4138f, 2.1677f};
constexpr float kEvenLsfLast[kEvenLsfTables] = {0.3927f, 1.2174f, 1.7672f, 2.2777f, 2.7882f};

// Fractions placing an odd LSF between its neighbours lo and hi, h = (hi - lo)/2:
// index j < L/2 + 1 gives lo + h t[j], the others hi - h t[j].  Odd LSF 2k+1 uses
// the table of its level count L = 16, 8, 8, 4, 2.
struct OddLsfTable {
    int levels;
    const float *fraction;
};
extern const OddLsfTable kOddLsf[kOrder / 2];

// --- Gains ---
extern const float kPitchGain[16];
extern const float kPitchGainThreshold[15];
extern const float kCodebookGainMagnitude[16];
extern const float kCodebookGainThreshold[16];

// --- The refined encoder's input filter (designed by tools/train/vt48) ---
// An FIR filter whose cascade with the output filter has linear phase: a
// delay of kInputFilterDelay samples.
constexpr int kInputFilterTaps = 40;
constexpr int kInputFilterDelay = 20;
extern const float kInputFilter[kInputFilterTaps];

// --- Decoder output filter (fourth order): z = B(z)/A'(z) y ---
extern const float kOutputB[5];
extern const float kOutputA[4]; // a'1..a'4

} // namespace vntr::vt48
