// The coded frame: its parameters and their bit layout.
//
//   allocation     for part 0..2, subband 0..31: nbal bits
//   selection      for each subband allocated in any part: 2 bits
//   scale factors  for each such subband: 6-bit indices as its selection says
//                  (0: one per allocated part; 1: parts 0+1, then part 2;
//                   2: one for all; 3: part 0, then parts 1+2)
//   samples        for part, granule 0..3, allocated subband: three codes, or
//                  one grouped codeword s0 + L*s1 + L^2*s2
// The next frame starts at the very next bit.
#pragma once

#include "bitstream.h"
#include "config.h"

#include <cstdint>

namespace vntr::audiocoder {

struct FrameParams {
    uint8_t allocation[kParts][kSubbands];
    uint8_t selection[kSubbands];
    uint8_t scaleIndex[kParts][kSubbands]; // the index serving each part
    uint8_t code[kBlocks][kSubbands];      // one code per subband sample (block = part*12 + granule*3 + sample)
};

inline bool AllocatedInAnyPart(const FrameParams &p, int sb) {
    return (p.allocation[0][sb] | p.allocation[1][sb] | p.allocation[2][sb]) != 0;
}

void WriteFrame(const Config &config, const FrameParams &params, BitWriter &writer);

// Reads one frame; the reader reports an overrun when the frame runs past the
// bytes it was given.
void ReadFrame(const Config &config, BitReader &reader, FrameParams &params);

} // namespace vntr::audiocoder
