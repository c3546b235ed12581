// The 96-bit VT120 frame.  Stream bit j is bit (j mod 8) of byte j div 8;
// every field is written least significant bit first, in this order (bits):
//
//   frame type 5 | LSP stages 6 6 6 6 | pitch words 14 9 |
//   sub-frame 0: amplitude 6, positions 12, signs 4 |
//   sub-frame 1: amplitude 6, positions 12, signs 4                    = 96
//
// Pitch word 0 is (lag0 - 18) * 128 + g0, pitch word 1 is d1 * 128 + g1
// (g the predictor entries, d1 the sub-frame-1 lag relative to lag0).  The
// position word holds four 3-bit codes: pulse 0 at 4 (P mod 8), pulse j at
// the pulse before it plus 1 + 4 ((P div 8^j) mod 8), mod 32.  Sign bit j set
// makes pulse j positive.
//
// The type bits give the type of the frame after it (decoder.hpp).  A frame
// of type 2 would carry the same four LSP indices after its type bits and a
// 9-bit noise level behind them; a frame of any other type but 3 carries
// nothing but its type bits.
#pragma once

#include "constants.hpp"

#include <cstdint>

namespace vntr::vt120 {

struct FrameFields {
    int type;                  // 5 bits: the next frame's type, 3 for speech
    int lsp[kLspStages];       // 6 bits each
    int pitch[kSubframes];     // 14 and 9 bits
    int amplitude[kSubframes]; // 6 bits; the encoder writes 0..31
    int positions[kSubframes]; // 12 bits
    int signs[kSubframes];     // 4 bits
};

// Writes the 12 bytes; a value wider than its field is cut to the field.
void PackFrame(const FrameFields &fields, uint8_t *out);

// Reads the 12 bytes by the speech layout, whatever the type.
FrameFields UnpackFrame(const uint8_t *in);

// The noise level of a type-2 frame (its type bits and LSP indices sit where
// a speech frame has them).
int ComfortNoiseLevel(const uint8_t *in);
constexpr int kComfortNoiseLevelBits = 9;

// The two sub-frames' lags from the pitch words: lag0 = word0 div 128 + 18;
// with d1 = word1 div 128, lag1 = 18 + d1 after lag0 18 or 19, 146 - d1
// after lag0 145, lag0 - 2 + d1 otherwise.
void DecodeLags(int word0, int word1, int lags[kSubframes]);

// The code d1 that makes DecodeLags give lag1 after lag0 (lag1 reachable from lag0).
int LagDifferenceCode(int lag0, int lag1);

// Positions of the four pulses from a position word.
void PulsePositions(int positionWord, int positions[kPulses]);

} // namespace vntr::vt120
