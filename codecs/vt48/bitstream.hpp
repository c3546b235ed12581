// The 96-bit frame: 22 parameters in six 16-bit little-endian words.
//
//   W0  LSF0 15-13 | LSF1 12-9 | LSF2 8-5 | gain index 1 4-0
//   W1  LSF3 15-13 | gain index 2 12-8 | codebook index 0 7-0
//   W2  LSF4 15-12 | LSF5 11-9 | LSF6 8-6 | LSF7 5-4 | LSF8 3-1 | LSF9 0
//   W3  lag field 15-9 | pitch gain 0 8-5 | gain index 0 4-0
//   W4  lag delta 1 15-12 | pitch gain 1 11-8 | codebook index 1 7-0
//   W5  lag delta 2 15-12 | pitch gain 2 11-8 | codebook index 2 7-0
#pragma once

#include "constants.hpp"

#include <array>
#include <cstdint>

namespace vntr::vt48 {

// The parameters in their numbered order: LSF indices 0..9, then per subframe
// (lag field or lag delta, pitch gain index, codebook index, codebook gain index).
struct FrameParams {
    std::array<uint16_t, kParameters> value{};

    uint16_t &lsf(int i) { return value[static_cast<std::size_t>(i)]; }
    uint16_t lsf(int i) const { return value[static_cast<std::size_t>(i)]; }
    // Subframe 0 carries the lag field (lag - 20), subframes 1 and 2 the delta (lag - previous lag + 7).
    uint16_t &lag(int s) { return value[static_cast<std::size_t>(10 + 4 * s)]; }
    uint16_t lag(int s) const { return value[static_cast<std::size_t>(10 + 4 * s)]; }
    uint16_t &pitchGain(int s) { return value[static_cast<std::size_t>(11 + 4 * s)]; }
    uint16_t pitchGain(int s) const { return value[static_cast<std::size_t>(11 + 4 * s)]; }
    uint16_t &codebook(int s) { return value[static_cast<std::size_t>(12 + 4 * s)]; }
    uint16_t codebook(int s) const { return value[static_cast<std::size_t>(12 + 4 * s)]; }
    uint16_t &codebookGain(int s) { return value[static_cast<std::size_t>(13 + 4 * s)]; }
    uint16_t codebookGain(int s) const { return value[static_cast<std::size_t>(13 + 4 * s)]; }

    bool operator==(const FrameParams &) const = default;
};

// Width in bits of every parameter.
extern const int kParameterBits[kParameters];

// Writes 12 bytes.  Values wider than their field are masked to it.
void PackFrame(const FrameParams &params, uint8_t *out);
FrameParams UnpackFrame(const uint8_t *in);

// Lags of the three subframes from the lag field and the deltas.  A damaged
// stream can carry deltas that take a lag beyond the history; such lags are
// held at the longest lag the history serves (147), and the next delta counts
// from the lag held.  The shortest reachable lag is 20 - 7 - 7 = 6.
void DecodeLags(const FrameParams &params, int lags[kSubframes]);

} // namespace vntr::vt48
