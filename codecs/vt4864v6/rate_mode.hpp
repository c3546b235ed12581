// The two rate rows of the dual-rate vocoder: everything that differs between
// 4.8 and 6.4 kbit/s.  Encoder and decoder switch between them per frame.
#pragma once

#include <array>
#include <cstdint>

namespace vntr::vt4864v6 {

constexpr int kFrameLength = 240; // samples per frame (30 ms)
constexpr int kOrder = 10;        // LPC order
constexpr int kMaxSubframes = 4;
constexpr int kMaxSubframeLength = 80;
constexpr int kParamCount = 20; // words of VocoderParams
constexpr int kMaxCodedBytes = 24;
constexpr int kMinLag = 18;
constexpr int kMaxLag = 145;
constexpr int kPastExcitation = 147; // longest lag plus the two samples the 5-tap predictor reaches
constexpr int kPulses = 7;

// Frame parameters in transmission order (19 words at 4.8 kbit/s, 20 at 6.4).
using VocoderParams = std::array<uint16_t, kParamCount>;

constexpr int kMaxPairs = kMaxSubframeLength / 2;

// Start of each row j of the pulse-pair correlation table: the rows hold
// L/2, L/2 - 1, ... entries, so row j starts at sum_{i<j} (L/2 - i).
constexpr std::array<uint16_t, kMaxPairs> PairRowStarts(int subframeLength) {
    std::array<uint16_t, kMaxPairs> starts{};
    const int pairs = subframeLength / 2;
    int at = 0;
    for (int j = 0; j < pairs; ++j) {
        starts[static_cast<std::size_t>(j)] = static_cast<uint16_t>(at);
        at += pairs - j;
    }
    return starts;
}
constexpr int PairTableSize(int subframeLength) {
    return subframeLength / 2 * (subframeLength / 2 + 1) / 2;
}

struct RateMode {
    uint8_t rateCode; // bits 0-1 of the first coded byte
    bool is4800;
    int subframes;
    int subframeLength;
    int grid; // first-pulse grid size
    int paramCount;
    int codedBytes;
    int usedBits; // rate code included
    std::array<uint8_t, kParamCount> widths;
    // Pulse steps of pulses 2..7, four choices each.
    std::array<std::array<uint8_t, 4>, kPulses - 1> steps;
    // Row starts of the pulse-pair correlation table.
    std::array<uint16_t, kMaxPairs> pairRows;
    // Threshold factors of the pulse search at pulses 3, 4, 5.
    std::array<float, 3> thresholds;
    int windowStart0; // start of sub-frame 0's analysis window in the speech buffer
    int windowStep;

    // Indices of a sub-frame's words in VocoderParams.
    constexpr int SignsWord(int k) const { return is4800 ? 8 + 4 * k : 8 + 3 * k; }
    constexpr int PositionsWord(int k) const { return SignsWord(k) + 1; }
    constexpr int GainWord(int k) const { return SignsWord(k) + 2; }
    constexpr int PositionBits() const { return is4800 ? 14 : 15; }
    constexpr int GridBits() const { return is4800 ? 2 : 3; }
};

inline constexpr RateMode kRate4800{
    .rateCode = 1,
    .is4800 = true,
    .subframes = 3,
    .subframeLength = 80,
    .grid = 4,
    .paramCount = 19,
    .codedBytes = 18,
    .usedBits = 144,
    .widths = {8, 8, 8, 0, 7, 7, 5, 0, 7, 14, 12, 0, 7, 14, 12, 0, 7, 14, 12, 0},
    .steps = {{{5, 25, 45, 65}, {5, 25, 45, 65}, {5, 25, 45, 65}, {4, 24, 44, 64}, {1, 23, 46, 68}, {1, 22, 51, 72}}},
    .pairRows = PairRowStarts(80),
    .thresholds = {0.35f, 0.55f, 0.75f},
    .windowStart0 = 20,
    .windowStep = 80,
};

inline constexpr RateMode kRate6400{
    .rateCode = 0,
    .is4800 = false,
    .subframes = 4,
    .subframeLength = 60,
    .grid = 8,
    .paramCount = 20,
    .codedBytes = 24,
    .usedBits = 190,
    .widths = {8, 8, 8, 0, 7, 7, 7, 7, 7, 15, 12, 7, 15, 12, 7, 15, 12, 7, 15, 12},
    .steps = {{{3, 18, 33, 48}, {3, 18, 33, 48}, {3, 18, 33, 48}, {3, 18, 33, 48}, {1, 18, 34, 52}, {1, 21, 38, 58}}},
    .pairRows = PairRowStarts(60),
    .thresholds = {0.55f, 0.55f, 0.55f},
    .windowStart0 = 0,
    .windowStep = 60,
};

// Rate code 0 is 6.4 kbit/s; 1, and the unused codes 2 and 3, are 4.8 kbit/s.
constexpr const RateMode &RateForCode(unsigned code) {
    return (code & 3u) == 0 ? kRate6400 : kRate4800;
}

constexpr int SumWidths(const RateMode &m) {
    int bits = 2;
    for (int i = 0; i < m.paramCount; ++i) bits += m.widths[i];
    return bits;
}
static_assert(SumWidths(kRate4800) == kRate4800.usedBits && kRate4800.usedBits == 8 * kRate4800.codedBytes);
static_assert(SumWidths(kRate6400) == kRate6400.usedBits && kRate6400.usedBits + 2 == 8 * kRate6400.codedBytes);
static_assert(kRate4800.pairRows[4] == 154 && kRate6400.pairRows[4] == 114);
static_assert(PairTableSize(80) == 820 && PairTableSize(60) == 465);
static_assert(kRate4800.subframes * kRate4800.subframeLength == kFrameLength);
static_assert(kRate6400.subframes * kRate6400.subframeLength == kFrameLength);

} // namespace vntr::vt4864v6
