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
    constexpr int kPartBlocks = kGranulesPerPart * kSamplesPerGranule;
    for (int b = 0; b < kBlocks; ++b) {
        const int part = b / kPartBlocks;
        float subband[kSubbands];
        for (int sb = 0; sb < kSubbands; ++sb) {
            const int alloc = p.allocation[part][sb];
            subband[sb] = alloc == 0 ? 0.0f
                                     : DequantiseSample(p.code[b][sb], config.rows[sb].quantiser[alloc - 1]) *
                                           scale[p.scaleIndex[part][sb]];
        }
        float out[kSubbands];
        Synthesise(s.synthesis, subband, out);
        for (int j = 0; j < kSubbands; ++j) {
            float v = std::round(out[j]); // half away from zero
            if (v > 32767.0f || v < -32768.0f || v != v) {
                ++s.clipped;
                v = v != v ? 0.0f : (v > 0.0f ? 32767.0f : -32768.0f);
            }
            const auto sample = static_cast<int16_t>(v);
            std::memcpy(pcm + 2 * (b * kSubbands + j), &sample, 2);
        }
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
