#include "coder.h"
#include "quantiser.h"

#include <cmath>
#include <cstring>

namespace vntr::audiocoder {
namespace {

constexpr float kHighPassPole = 0.98f;
// Level offset so that a full-scale sine in one subband sits near 79.5 dB.
const double kLevelOffsetDb = 10.0 * std::log10(89473024.0);

int DifferenceClass(int d) {
    if (d <= -3) return 0;
    if (d <= -1) return 1;
    if (d == 0) return 2;
    if (d <= 2) return 3;
    return 4;
}

// Row: class of index(part 0) - index(part 1); column: class of index(part 1) - index(part 2).
constexpr uint16_t kSelectionPattern[5][5] = {
    {0x123, 0x122, 0x122, 0x133, 0x123}, {0x113, 0x111, 0x111, 0x444, 0x113}, {0x111, 0x111, 0x111, 0x333, 0x113},
    {0x222, 0x222, 0x222, 0x333, 0x123}, {0x123, 0x122, 0x122, 0x133, 0x123},
};

uint8_t AllocationFor(double level, const Thresholds &t) {
    if (level > t.alloc3) return 3;
    if (level > t.alloc2) return 2;
    if (level > t.alloc1) return 1;
    return 0;
}

} // namespace

int ScaleFactorIndex(float peak) {
    // The largest index whose value still covers the peak; a peak beyond the
    // largest scale factor takes index 0 (its samples are clipped to +-1).
    const auto &value = ScaleFactors().value;
    for (int i = kLargestEncoderIndex; i >= 0; --i)
        if (value[static_cast<std::size_t>(i)] >= peak) return i;
    return 0;
}

uint8_t SelectScaleFactors(uint8_t &s0, uint8_t &s1, uint8_t &s2) {
    const int d1 = static_cast<int>(s0) - static_cast<int>(s1);
    const int d2 = static_cast<int>(s1) - static_cast<int>(s2);
    switch (kSelectionPattern[DifferenceClass(d1)][DifferenceClass(d2)]) {
    case 0x122:
        s2 = s1;
        return 3;
    case 0x133:
        s1 = s2;
        return 3;
    case 0x113:
        s1 = s0;
        return 1;
    case 0x111:
        s1 = s2 = s0;
        return 2;
    case 0x222:
        s0 = s2 = s1;
        return 2;
    case 0x333:
        s0 = s1 = s2;
        return 2;
    case 0x444:
        if (s2 < s0) s0 = s2;
        s1 = s2 = s0;
        return 2;
    default:
        return 0; // 0x123: three scale factors
    }
}

void CleanUpAllocation(CleanUp rule, uint8_t (&a)[kSubbands]) {
    switch (rule) {
    case CleanUp::FillHoles:
        for (int k = 2; k <= 23; ++k) {
            if (a[k] != 0) continue;
            const int neighbours = (a[k - 2] != 0) + (a[k - 1] != 0) + (a[k + 1] != 0) + (a[k + 2] != 0);
            if (neighbours >= 3) a[k] = 1;
        }
        break;
    case CleanUp::PruneHighBand: {
        int middle = 0;
        for (int k = 10; k <= 15; ++k) middle += a[k];
        if (middle < 3)
            for (int k = 16; k < kSubbands; ++k)
                if (a[k] == 1) a[k] = 0;
        break;
    }
    case CleanUp::None:
        break;
    }
}

void SmoothAllocation(uint8_t &h, uint8_t &a0, uint8_t &a1, uint8_t &a2) {
    if (h == 0 && a0 != 0 && a1 == 0) a0 = 0;  // a lone onset in part 0
    if (a0 == 0 && a1 != 0 && a2 == 0) a1 = 0; // a lone burst in part 1
    if (h != 0 && a0 == 0 && a1 != 0) a0 = 1;  // bridge a gap from the last frame
    if (a0 != 0 && a1 == 0 && a2 != 0) a1 = 1; // bridge a gap inside the frame
    h = a2;
}

uint8_t QuantiseSample(float sample, float scale, const Quantiser &q) {
    const QuantClass &k = kQuantClasses[q.quantClass];
    float c = sample / scale;
    if (c > 1.0f) c = 1.0f; // only a peak beyond the largest scale factor gets here
    if (c < -1.0f) c = -1.0f;
    const float cq = k.a * c + k.b;
    const float g = static_cast<float>(1u << (q.sampleBits - 1));
    int code = cq >= 0.0f ? static_cast<int>(g) + static_cast<int>(std::floor(cq * g))
                          : static_cast<int>(std::floor((cq + 1.0f) * g));
    // A sample exactly at its scale factor lands one step past the top level.
    const int top = static_cast<int>(q.levels) - 1;
    if (code > top) code = top;
    if (code < 0) code = 0;
    return static_cast<uint8_t>(code);
}

void InitEncoder(EncoderState &s) {
    s.highPassIn = 0.0f;
    s.highPassOut = 0.0f;
    ResetAnalysis(s.analysis);
    std::memset(s.previousAllocation, 0, sizeof s.previousAllocation);
    s.freeBits = 8;
    s.pendingByte = 0;
}

CodecStatus EncodeFrame(const Config &config, EncoderState &s, const uint8_t *pcm, uint16_t *inBytes, uint8_t *out,
                        uint16_t *outBytes) {
    if (*inBytes == CODEC_END_OF_STREAM) {
        *inBytes = 0;
        if (s.freeBits != 0 && s.freeBits != 8) {
            out[0] = s.pendingByte;
            *outBytes = 1;
        } else {
            *outBytes = 0;
        }
        return CODEC_OK;
    }

    // DC-removing high-pass, then the analysis bank block by block.
    alignas(32) float subband[kBlocks][kSubbands];
    for (int b = 0; b < kBlocks; ++b) {
        float block[kSubbands];
        for (int t = 0; t < kSubbands; ++t) {
            int16_t v;
            std::memcpy(&v, pcm + 2 * (b * kSubbands + t), 2);
            const float x = static_cast<float>(v);
            const float y = x - s.highPassIn + kHighPassPole * s.highPassOut;
            s.highPassIn = x;
            s.highPassOut = y;
            block[t] = y;
        }
        Analyse(s.analysis, block, subband[b]);
    }

    FrameParams p;
    constexpr int kPartBlocks = kGranulesPerPart * kSamplesPerGranule;
    float energy[kParts][kSubbands];
    for (int part = 0; part < kParts; ++part)
        for (int sb = 0; sb < kSubbands; ++sb) {
            float peak = 0.0f, e = 0.0f;
            for (int t = 0; t < kPartBlocks; ++t) {
                const float v = subband[part * kPartBlocks + t][sb];
                const float magnitude = std::fabs(v);
                if (magnitude > peak) peak = magnitude; // never a NaN here: the input is 16-bit PCM
                e += v * v;
            }
            p.scaleIndex[part][sb] = static_cast<uint8_t>(ScaleFactorIndex(peak));
            energy[part][sb] = e;
        }

    for (int sb = 0; sb < kSubbands; ++sb)
        p.selection[sb] = SelectScaleFactors(p.scaleIndex[0][sb], p.scaleIndex[1][sb], p.scaleIndex[2][sb]);

    for (int part = 0; part < kParts; ++part) {
        for (int sb = 0; sb < kSubbands; ++sb) {
            const float e = energy[part][sb];
            p.allocation[part][sb] =
                e > 0.0f
                    ? AllocationFor(10.0 * std::log10(static_cast<double>(e)) + kLevelOffsetDb, config.thresholds[sb])
                    : 0;
        }
        CleanUpAllocation(config.cleanUp, p.allocation[part]);
    }

    for (int sb = 0; sb < kSubbands; ++sb)
        SmoothAllocation(s.previousAllocation[sb], p.allocation[0][sb], p.allocation[1][sb], p.allocation[2][sb]);

    const auto &scale = ScaleFactors().value;
    for (int b = 0; b < kBlocks; ++b) {
        const int part = b / kPartBlocks;
        for (int sb = 0; sb < kSubbands; ++sb) {
            const int alloc = p.allocation[part][sb];
            p.code[b][sb] = alloc == 0 ? 0
                                       : QuantiseSample(subband[b][sb], scale[p.scaleIndex[part][sb]],
                                                        config.rows[sb].quantiser[alloc - 1]);
        }
    }

    // The frame continues in the free bits of the previous frame's last byte.
    uint8_t buffer[(MaxFrameBits(kConfig250f11) + 7) / 8 + 2];
    BitWriter writer(buffer, s.pendingByte, 8 - s.freeBits);
    WriteFrame(config, p, writer);
    const std::size_t bits = writer.bitCount();
    const std::size_t complete = bits / 8;
    std::memcpy(out, buffer, complete);
    *outBytes = static_cast<uint16_t>(complete);
    if (bits % 8 != 0) {
        s.pendingByte = buffer[complete];
        s.freeBits = static_cast<int>(8 - bits % 8);
    } else {
        s.pendingByte = 0;
        s.freeBits = 8;
    }
    *inBytes = kFrameBytes;
    return CODEC_OK;
}

} // namespace vntr::audiocoder
