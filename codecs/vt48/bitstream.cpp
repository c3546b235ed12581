#include "bitstream.hpp"

namespace vntr::vt48 {
namespace {

struct Field {
    uint8_t word;
    uint8_t lowBit;
};

// Where parameter i sits: word and lowest bit (its width is kParameterBits[i]).
constexpr Field kFields[kParameters] = {
    {0, 13}, {0, 9}, {0, 5}, {1, 13}, {2, 12}, {2, 9}, {2, 6}, {2, 4}, {2, 1}, {2, 0}, // LSF indices
    {3, 9},  {3, 5}, {1, 0}, {3, 0},                                                   // subframe 0
    {4, 12}, {4, 8}, {4, 0}, {0, 0},                                                   // subframe 1
    {5, 12}, {5, 8}, {5, 0}, {1, 8},                                                   // subframe 2
};

} // namespace

const int kParameterBits[kParameters] = {3, 4, 4, 3, 4, 3, 3, 2, 3, 1, 7, 4, 8, 5, 4, 4, 8, 5, 4, 4, 8, 5};

void PackFrame(const FrameParams &params, uint8_t *out) {
    uint16_t words[6] = {};
    for (int i = 0; i < kParameters; ++i) {
        const uint16_t mask = static_cast<uint16_t>((1u << kParameterBits[i]) - 1u);
        words[kFields[i].word] |=
            static_cast<uint16_t>((params.value[static_cast<std::size_t>(i)] & mask) << kFields[i].lowBit);
    }
    for (int w = 0; w < 6; ++w) {
        out[2 * w] = static_cast<uint8_t>(words[w] & 0xFFu);
        out[2 * w + 1] = static_cast<uint8_t>(words[w] >> 8);
    }
}

FrameParams UnpackFrame(const uint8_t *in) {
    FrameParams params;
    for (int i = 0; i < kParameters; ++i) {
        const unsigned word = in[2 * kFields[i].word] | (static_cast<unsigned>(in[2 * kFields[i].word + 1]) << 8);
        params.value[static_cast<std::size_t>(i)] =
            static_cast<uint16_t>((word >> kFields[i].lowBit) & ((1u << kParameterBits[i]) - 1u));
    }
    return params;
}

void DecodeLags(const FrameParams &params, int lags[kSubframes]) {
    lags[0] = params.lag(0) + kMinCodedLag;
    for (int s = 1; s < kSubframes; ++s) {
        const int lag = lags[s - 1] + params.lag(s) - kLagDeltaOffset;
        lags[s] = lag > kMaxLag ? kMaxLag : lag;
    }
}

} // namespace vntr::vt48
