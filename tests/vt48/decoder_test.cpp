// The decoder's own rules: the output conversion, the fall-back envelope,
// the periodic repeat of short lags and the limit on damaged lags.
#include "decoder.hpp"
#include "excitation.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

namespace vntr::vt48 {
namespace {

TEST(OutputConversion, ClipsAtItsExactPoints) {
    EXPECT_EQ(ToPcm16(-32767.0f), -32767);
    EXPECT_EQ(ToPcm16(-32767.25f), -32768);
    EXPECT_EQ(ToPcm16(-32767.5f), -32768);
    EXPECT_EQ(ToPcm16(-1e9f), -32768);
    EXPECT_EQ(ToPcm16(32767.0f), 32767);
    EXPECT_EQ(ToPcm16(32767.5f), 32767);
    EXPECT_EQ(ToPcm16(1e9f), 32767);
    EXPECT_EQ(ToPcm16(1.99f), 1); // toward zero
    EXPECT_EQ(ToPcm16(-1.99f), -1);
    EXPECT_EQ(ToPcm16(-0.5f), 0);
}

TEST(OutputConversion, EightBitSamplesAreTheHighByteOffsetBy128) {
    EXPECT_EQ(ToPcm8(0), 128);
    EXPECT_EQ(ToPcm8(255), 128);
    EXPECT_EQ(ToPcm8(256), 129);
    EXPECT_EQ(ToPcm8(-1), 127);
    EXPECT_EQ(ToPcm8(-256), 127);
    EXPECT_EQ(ToPcm8(-257), 126);
    EXPECT_EQ(ToPcm8(32767), 255);
    EXPECT_EQ(ToPcm8(-32768), 0);
}

FrameParams Voiced() {
    FrameParams p;
    const uint16_t lsf[kOrder] = {2, 5, 4, 3, 6, 4, 3, 2, 4, 1};
    for (int i = 0; i < kOrder; ++i) p.lsf(i) = lsf[i];
    p.lag(0) = 40;
    p.lag(1) = 7;
    p.lag(2) = 7;
    for (int s = 0; s < kSubframes; ++s) {
        p.pitchGain(s) = 12;
        p.codebook(s) = static_cast<uint16_t>(5 + s);
        p.codebookGain(s) = 9;
    }
    return p;
}

std::array<uint8_t, kCodedBytes> Pack(const FrameParams &p) {
    std::array<uint8_t, kCodedBytes> bytes;
    PackFrame(p, bytes.data());
    return bytes;
}

TEST(Decoder, ADisorderedSetRepeatsThePreviousEnvelope) {
    auto dec = std::make_unique<DecoderState>();
    InitDecoder(*dec);
    int16_t pcm[kFrameLength];
    const FrameParams good = Voiced();
    DecodeFrame(*dec, Pack(good).data(), pcm);
    DecodeFrame(*dec, Pack(good).data(), pcm);
    const Lsf kept = dec->previousLsf;
    float settled[kOrder];
    std::memcpy(settled, dec->lpc[2], sizeof settled);

    FrameParams bad = good;
    bad.lsf(0) = static_cast<uint16_t>(kEvenLsfSize[0] - 1); // LSF 0 at its table's top ...
    bad.lsf(2) = 0;                                          // ... above LSF 2 at its bottom
    DecodeFrame(*dec, Pack(bad).data(), pcm);
    EXPECT_EQ(dec->previousLsf, kept);
    for (int s = 0; s < kSubframes; ++s) {
        // The same set interpolated with itself: equal up to the rounding of the interpolation.
        for (int i = 0; i < kOrder; ++i) EXPECT_NEAR(dec->lpc[s][i], settled[i], 2e-6f) << s << ":" << i;
    }
}

TEST(Decoder, AFrameStartsFromTheEvenlySpacedSet) {
    auto dec = std::make_unique<DecoderState>();
    InitDecoder(*dec);
    for (int i = 0; i < kOrder; ++i) {
        EXPECT_FLOAT_EQ(dec->previousLsf[static_cast<std::size_t>(i)], (2 * i + 1) * 3.14159265f / 20);
    }
    FrameParams bad = Voiced();
    bad.lsf(0) = static_cast<uint16_t>(kEvenLsfSize[0] - 1);
    bad.lsf(2) = 0;
    int16_t pcm[kFrameLength];
    DecodeFrame(*dec, Pack(bad).data(), pcm);
    EXPECT_EQ(dec->previousLsf, InitialLsf());
}

TEST(Decoder, ShortLagsRepeatTheHistoryPeriodically) {
    auto dec = std::make_unique<DecoderState>();
    InitDecoder(*dec);
    std::mt19937 rng(9);
    for (float &x : dec->excitation) x = static_cast<float>(rng() % 2000) - 1000.0f;
    float history[kHistory];
    std::memcpy(history, dec->excitation, sizeof history);
    FrameParams p = Voiced();
    p.lag(0) = 0; // 20
    p.lag(1) = 0; // 13
    p.lag(2) = 0; // 6
    for (int s = 0; s < kSubframes; ++s) {
        p.pitchGain(s) = 13; // 1.025
        p.codebook(s) = 100; // seven pulses
        p.codebookGain(s) = 0;
    }
    int16_t pcm[kFrameLength];
    DecodeFrame(*dec, Pack(p).data(), pcm);
    EXPECT_EQ(dec->lags[0], 20);
    EXPECT_EQ(dec->lags[1], 13);
    EXPECT_EQ(dec->lags[2], 6);
    // Rebuild the three subframes by hand from the history.
    float e[kFrameLength];
    float h[kHistory];
    std::memcpy(h, history, sizeof h);
    for (int s = 0; s < kSubframes; ++s) {
        const int length = kSubframeLength[s];
        const int lag = dec->lags[s];
        float sub[kMaxSubframeLength];
        for (int n = 0; n < length; ++n) sub[n] = n < lag ? h[kHistory - lag + n] : sub[n - lag];
        for (int n = 0; n < length; ++n) sub[n] *= 1.025f;
        AddFixedContribution(100, 1.0f, lag, length, sub);
        std::memmove(h, h + length, (kHistory - length) * sizeof(float));
        std::memcpy(h + kHistory - length, sub, length * sizeof(float));
        std::memcpy(e + kSubframeStart[s], sub, length * sizeof(float));
    }
    for (int n = 0; n < kHistory; ++n) EXPECT_EQ(dec->excitation[n], e[kFrameLength - kHistory + n]) << n;
}

TEST(Decoder, DamagedLagsReadNothingBeforeTheHistory) {
    // A frame whose deltas take the lags to 155 and 163 decodes as if they were 147.
    FrameParams damaged = Voiced();
    damaged.lag(0) = 127;
    damaged.lag(1) = 15;
    damaged.lag(2) = 15;
    FrameParams held = damaged;
    held.lag(1) = 7;
    held.lag(2) = 7;
    auto a = std::make_unique<DecoderState>();
    auto b = std::make_unique<DecoderState>();
    InitDecoder(*a);
    InitDecoder(*b);
    int16_t pa[kFrameLength], pb[kFrameLength];
    for (int frame = 0; frame < 4; ++frame) {
        DecodeFrame(*a, Pack(Voiced()).data(), pa);
        DecodeFrame(*b, Pack(Voiced()).data(), pb);
    }
    DecodeFrame(*a, Pack(damaged).data(), pa);
    DecodeFrame(*b, Pack(held).data(), pb);
    EXPECT_EQ(a->lags[1], kMaxLag);
    EXPECT_EQ(a->lags[2], kMaxLag);
    EXPECT_EQ(0, std::memcmp(pa, pb, sizeof pa));
    EXPECT_EQ(0, std::memcmp(a->excitation, b->excitation, sizeof a->excitation));
}

TEST(Decoder, SilenceCodeDecodesNearZero) {
    auto dec = std::make_unique<DecoderState>();
    InitDecoder(*dec);
    FrameParams p;
    std::array<uint16_t, kOrder> index;
    QuantiseLsf(InitialLsf(), index); // a flat envelope
    for (int i = 0; i < kOrder; ++i) p.lsf(i) = index[static_cast<std::size_t>(i)];
    for (int s = 0; s < kSubframes; ++s) {
        p.pitchGain(s) = 6; // 0.191
        p.codebook(s) = 65;
        p.codebookGain(s) = 0; // magnitude 1
    }
    p.lag(1) = 7;
    p.lag(2) = 7;
    int16_t pcm[kFrameLength];
    int peak = 0;
    for (int frame = 0; frame < 20; ++frame) {
        DecodeFrame(*dec, Pack(p).data(), pcm);
        for (int16_t s : pcm) peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    EXPECT_LE(peak, 20);
}

TEST(Decoder, RunawayStreamsStayFiniteAndRecover) {
    auto dec = std::make_unique<DecoderState>();
    InitDecoder(*dec);
    FrameParams loud = Voiced();
    for (int s = 0; s < kSubframes; ++s) {
        loud.pitchGain(s) = 15; // 1.55, frame after frame
        loud.codebookGain(s) = 15;
    }
    int16_t pcm[kFrameLength];
    for (int frame = 0; frame < 500; ++frame) DecodeFrame(*dec, Pack(loud).data(), pcm);
    for (float x : dec->excitation) ASSERT_TRUE(std::isfinite(x));
    for (float x : dec->synthesis) ASSERT_TRUE(std::isfinite(x));
    // Frames of the silence code bring the output back down.
    FrameParams soft = Voiced();
    for (int s = 0; s < kSubframes; ++s) {
        soft.pitchGain(s) = 6;
        soft.codebook(s) = 65;
        soft.codebookGain(s) = 0;
    }
    for (int frame = 0; frame < 100; ++frame) DecodeFrame(*dec, Pack(soft).data(), pcm);
    int peak = 0;
    for (int16_t s : pcm) peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_LT(peak, 200);
}

} // namespace
} // namespace vntr::vt48
