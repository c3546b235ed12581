// Bit-exact packing of the two frame formats and the rebuilding of the pitch
// lags from their coded form.
//
// A coded frame is a little-endian bit stream: the 2-bit rate code, then the
// parameter words in index order, each least significant bit first with the
// width of its rate row.  Frame layouts (bits):
//
//   4.8 kbit/s, 18 bytes   rate 2 | LSP 8 8 8 | lags 7 7 5 |
//                          3 x (signs 7, positions 14, gain 12)            = 144
//   6.4 kbit/s, 24 bytes   rate 2 | LSP 8 8 8 | lags 7 7 7 7 |
//                          4 x (signs 7, positions 15, gain 12) | 2 spare  = 192
#pragma once

#include "rate_mode.hpp"

#include <cstdint>

namespace vntr::vt4864v6 {

// Writes mode.codedBytes bytes.  Words wider than their field are masked.
void PackFrame(const VocoderParams &params, const RateMode &mode, uint8_t *out);

// The rate row a coded frame announces in its first byte.
inline const RateMode &FrameRate(const uint8_t *coded) {
    return RateForCode(coded[0] & 3u);
}

// Reads mode.codedBytes bytes; words that the row does not transmit are 0.
VocoderParams UnpackFrame(const uint8_t *in, const RateMode &mode);

// Pitch lag of each sub-frame (18..145) from the lag words.
void RebuildLags(const VocoderParams &params, const RateMode &mode, int lags[kMaxSubframes]);

// The 4-bit differential lag code of lag T against reference lag R, and the
// window of lags it can reach (held at 18..33 and 130..145 near the ends).
int DifferentialCentre(int reference);
int DifferentialCode(int lag, int reference);
int DifferentialLag(int code, int reference);

} // namespace vntr::vt4864v6
