#include "coder.h"
#include "quantiser.h"

#include <cmath>
#include <cstring>

namespace vntr::audiocoder {

float DequantiseSample(uint32_t code, const Quantiser &q) {
    const QuantClass &k = kQuantClasses[q.quantClass];
    const uint32_t top = 1u << (q.sampleBits - 1);
    const float f = ((code & top) != 0 ? 0.0f : -1.0f) + static_cast<float>(code & (top - 1)) / static_cast<float>(top);
    return (f + k.d) / k.a;
}

namespace {

// DequantiseSample of every code of the seven quantisers the libraries use,
// by class: a lookup instead of a division per sample, the same values.
struct DequantisedCodes {
    float value[7][64] = {};
    DequantisedCodes() {
        for (const Quantiser &q : {kQ3, kQ5, kQ7, kQ9, kQ15, kQ31, kQ63})
            for (uint32_t code = 0; code < (1u << q.sampleBits); ++code)
                value[q.quantClass][code] = DequantiseSample(code, q);
    }
};

const DequantisedCodes &Dequantised() {
    static const DequantisedCodes table;
    return table;
}

} // namespace

int16_t RoundToPcm(float x, uint32_t &clipped) {
    // Beyond the range (or not a number): saturate and count.
    if (!(x < 32767.5f) || !(x > -32768.5f)) {
        ++clipped;
        return x != x ? 0 : (x > 0.0f ? 32767 : -32768);
    }
    // Within it the fraction x - trunc(x) is exact, so comparing it with one
    // half rounds exactly as std::round does, without a call.
    const int whole = static_cast<int>(x);
    const float fraction = x - static_cast<float>(whole);
    return static_cast<int16_t>(whole + (fraction >= 0.5f ? 1 : 0) - (fraction <= -0.5f ? 1 : 0));
}

void InitDecoder(DecoderState &s) {
    ResetSynthesis(s.synthesis);
    s.unreadBits = 8;
    s.clipped = 0;
}

CodecStatus DecodeFrame(const Config &config, DecoderState &s, const uint8_t *in, uint16_t limit, uint16_t *inBytes,
                        uint8_t *pcm, uint16_t *outBytes) {
    FrameParams &p = s.scratch;
    BitReader reader(in, limit, s.unreadBits);
    ReadFrame(config, reader, p);
    if (reader.overrun()) return CODEC_ERR_NEED_DATA; // the bit position stays where it was

    const auto &scale = ScaleFactors().value;
    const DequantisedCodes &dequantised = Dequantised();
    constexpr int kPartBlocks = kGranulesPerPart * kSamplesPerGranule;
    for (int b = 0; b < kBlocks; ++b) {
        const int part = b / kPartBlocks;
        float subband[kSubbands];
        for (int sb = 0; sb < kSubbands; ++sb) {
            const int alloc = p.allocation[part][sb];
            subband[sb] = alloc == 0
                              ? 0.0f
                              : dequantised.value[config.rows[sb].quantiser[alloc - 1].quantClass][p.code[b][sb]] *
                                    scale[p.scaleIndex[part][sb]];
        }
        float out[kSubbands];
        Synthesise(s.synthesis, subband, out);
        int16_t samples[kSubbands];
        for (int j = 0; j < kSubbands; ++j) samples[j] = RoundToPcm(out[j], s.clipped);
        std::memcpy(pcm + 2 * b * kSubbands, samples, sizeof samples);
    }

    // A partly read last byte is handed back: the next call starts with it.
    if (reader.bitsLeft() > 0) {
        *inBytes = static_cast<uint16_t>(reader.byte());
        s.unreadBits = reader.bitsLeft();
    } else {
        *inBytes = static_cast<uint16_t>(reader.byte() + 1);
        s.unreadBits = 8;
    }
    *outBytes = kFrameBytes;
    return CODEC_OK;
}

} // namespace vntr::audiocoder
