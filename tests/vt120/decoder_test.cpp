// The decoder: speech frames, and the handling of frames of other types.
#include "bitstream.hpp"
#include "decoder.hpp"

#include <vntr/dsp/bit_io.hpp>
#include <vntr/dsp/pitch_predictor.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

namespace vntr::vt120 {
namespace {

struct Decoder {
    std::unique_ptr<DecoderState> s = std::make_unique<DecoderState>();
    Decoder() { InitDecoder(*s); }
    double Frame(const uint8_t *coded, float *out = nullptr) {
        float local[kFrameLength];
        float *y = out ? out : local;
        DecodeFrame(*s, coded, y);
        double e = 0;
        for (int n = 0; n < kFrameLength; ++n) e += static_cast<double>(y[n]) * y[n];
        return e;
    }
};

// A speech frame: a mid-band envelope, a lag, strong pulses and a predictor entry.
void SpeechFrame(uint8_t *out, int lag0, int d1, int entry, int amplitude, std::mt19937 &rng,
                 bool quotedEnvelope = false) {
    FrameFields f{};
    f.type = kSpeechFrame;
    for (int &i : f.lsp) i = quotedEnvelope ? 0 : static_cast<int>(rng() % 64);
    f.pitch[0] = (lag0 - kMinLag) * 128 + entry;
    f.pitch[1] = d1 * 128 + entry;
    for (int k = 0; k < kSubframes; ++k) {
        f.amplitude[k] = amplitude;
        f.positions[k] = static_cast<int>(rng() % 4096);
        f.signs[k] = static_cast<int>(rng() % 16);
    }
    PackFrame(f, out);
}

TEST(Decoder, OpensWithTypeThreeAndTheUniformLsps) {
    Decoder d;
    EXPECT_EQ(d.s->carriedType, kSpeechFrame);
    EXPECT_NEAR(d.s->previousLsp[0], 0.2856f, 1e-4f);
    EXPECT_EQ(d.s->post.gain, 1.0f);
}

TEST(Decoder, ZeroBytesCarryTypeZeroAndAFreshDecoderStaysSilent) {
    Decoder d;
    const uint8_t zero[kCodedBytes] = {};
    for (int f = 0; f < 5; ++f) EXPECT_EQ(d.Frame(zero), 0.0);
    EXPECT_EQ(d.s->carriedType, 0);
}

TEST(Decoder, LostFramesAfterSpeechFadeOutWithinTheFade) {
    Decoder d;
    std::mt19937 rng(1);
    uint8_t frame[kCodedBytes];
    for (int f = 0; f < 20; ++f) {
        SpeechFrame(frame, 60, 2, 127, 24, rng, true);
        d.Frame(frame);
    }
    const uint8_t lost[kCodedBytes] = {0x01}; // type 1: no parameters
    const Lsp held = d.s->previousLsp;
    double first = 0, late = 0;
    for (int f = 0; f < kFadeSubframes / 2 + 10; ++f) {
        const double e = d.Frame(lost);
        if (f == 0) first = e;
        if (f == kFadeSubframes / 2 + 9) late = e;
        EXPECT_EQ(d.s->carriedType, 1);
        EXPECT_EQ(d.s->previousLsp, held);
    }
    EXPECT_GT(first, 0.0);
    EXPECT_LT(late, 1e-4 * first);
    for (float x : d.s->excitation) EXPECT_EQ(x, 0.0f);
    // Speech resumes at once.
    SpeechFrame(frame, 60, 2, 127, 24, rng);
    EXPECT_GT(d.Frame(frame), 0.0);
    EXPECT_EQ(d.s->fadedSubframes, 0);
}

// A type-2 frame: the four LSP indices, then a 9-bit level.
void ComfortFrame(uint8_t *out, int level) {
    dsp::BitWriter w(out, kCodedBytes);
    w.Write(kComfortNoiseFrame, 5);
    for (int s = 0; s < kLspStages; ++s) w.Write(static_cast<uint32_t>(3 * s + 1), 6);
    w.Write(static_cast<uint32_t>(level), 9);
}

TEST(Decoder, ComfortNoiseHasTheLevelAndGoesOnUntilSpeech) {
    Decoder d;
    uint8_t frame[kCodedBytes];
    ComfortFrame(frame, 300);
    double power = 0;
    int samples = 0;
    for (int f = 0; f < 200; ++f) {
        d.Frame(frame);
        if (f < 20) continue;
        for (float x : d.s->speech) power += static_cast<double>(x) * x;
        samples += kFrameLength;
    }
    EXPECT_NEAR(std::sqrt(power / samples), 300.0, 60.0);
    EXPECT_TRUE(d.s->comfortNoise);
    // No-data frames go on with the noise; a speech frame ends it.
    const uint8_t empty[kCodedBytes] = {0x07};
    for (int f = 0; f < 30; ++f) EXPECT_GT(d.Frame(empty), 0.0);
    EXPECT_TRUE(d.s->comfortNoise);
    EXPECT_EQ(d.s->fadedSubframes, 0);
    std::mt19937 rng(2);
    SpeechFrame(frame, 40, 1, 5, 10, rng);
    d.Frame(frame);
    EXPECT_FALSE(d.s->comfortNoise);
    // Level 0 is silence.
    Decoder quiet;
    ComfortFrame(frame, 0);
    for (int f = 0; f < 5; ++f) EXPECT_EQ(quiet.Frame(frame), 0.0);
}

TEST(Decoder, AmplitudeFieldsAbove31DecodeAsTheirLowFiveBits) {
    std::mt19937 rngA(5), rngB(5);
    Decoder a, b;
    for (int f = 0; f < 30; ++f) {
        uint8_t fa[kCodedBytes], fb[kCodedBytes];
        SpeechFrame(fa, 50, 1, 30, 20, rngA);
        SpeechFrame(fb, 50, 1, 30, 20 + 32, rngB);
        ASSERT_NE(std::memcmp(fa, fb, kCodedBytes), 0);
        float ya[kFrameLength], yb[kFrameLength];
        a.Frame(fa, ya);
        b.Frame(fb, yb);
        ASSERT_EQ(std::memcmp(ya, yb, sizeof ya), 0) << f;
    }
}

TEST(Decoder, LagsOfTheLastCodeStayInsideTheHistory) {
    // lag0 = 145 with d1 = 0 gives lag 146, the longest the history holds.
    Decoder d;
    std::mt19937 rng(8);
    uint8_t frame[kCodedBytes];
    for (int f = 0; f < 40; ++f) {
        SpeechFrame(frame, 145, f % 4, 1 + f % 127, 22, rng);
        float y[kFrameLength];
        d.Frame(frame, y);
        EXPECT_EQ(d.s->lags[0], 145);
        EXPECT_EQ(d.s->lags[1], 146 - f % 4);
        for (float x : y) ASSERT_TRUE(std::isfinite(x));
    }
}

TEST(Decoder, TheLoudestPredictorEntriesFrameAfterFrameStayBounded) {
    // Entry 127 (gain above 1) with the loudest pulses on every sub-frame.
    Decoder d;
    std::mt19937 rng(6);
    uint8_t frame[kCodedBytes];
    for (int f = 0; f < 2000; ++f) {
        SpeechFrame(frame, 18 + f % 100, 1, 127, 31, rng);
        float y[kFrameLength];
        d.Frame(frame, y);
        for (float x : y) ASSERT_TRUE(std::isfinite(x));
        for (float x : d.s->history) ASSERT_LE(std::fabs(x), dsp::kExcitationLimit);
    }
}

} // namespace
} // namespace vntr::vt120
