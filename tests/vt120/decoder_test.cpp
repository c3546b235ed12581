// The decoder: speech frames, and the handling of frames of other types.
#include "bitstream.hpp"
#include "decoder.hpp"

#include <vntr/dsp/bit_io.hpp>
#include <vntr/dsp/pitch_predictor.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

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
                 bool stageZeroEnvelope = false) {
    FrameFields f{};
    f.type = kSpeechFrame;
    for (int &i : f.lsp) i = stageZeroEnvelope ? 0 : static_cast<int>(rng() % 64);
    f.pitch[0] = (lag0 - kMinLag) * 128 + entry;
    f.pitch[1] = d1 * 128 + entry;
    for (int k = 0; k < kSubframes; ++k) {
        f.amplitude[k] = amplitude;
        f.positions[k] = static_cast<int>(rng() % 4096);
        f.signs[k] = static_cast<int>(rng() % 16);
    }
    PackFrame(f, out);
}

// A frame with its type bits set to `type`.
void SetType(uint8_t *frame, int type) {
    frame[0] = static_cast<uint8_t>((frame[0] & ~31) | type);
}

double Peak(const float *x, int length) {
    double peak = 0;
    for (int n = 0; n < length; ++n) peak = std::max(peak, static_cast<double>(std::fabs(x[n])));
    return peak;
}

TEST(Decoder, TheFirstFrameIsSpeechWhateverItsTypeBits) {
    // The carried type starts at 3: the type bits of the first frame govern the second.
    std::mt19937 rng(4);
    uint8_t frame[kCodedBytes];
    SpeechFrame(frame, 50, 1, 40, 20, rng);
    for (int type : {0, 1, 2, 31}) {
        Decoder speech, typed;
        uint8_t other[kCodedBytes];
        std::memcpy(other, frame, sizeof other);
        SetType(other, type);
        float a[kFrameLength], b[kFrameLength];
        EXPECT_GT(speech.Frame(frame, a), 0.0);
        typed.Frame(other, b);
        EXPECT_EQ(std::memcmp(a, b, sizeof a), 0) << type;
        EXPECT_EQ(typed.s->carriedType, type);
    }
}

TEST(Decoder, AFramesTypeGovernsTheNextFrame) {
    std::mt19937 rng(9);
    constexpr int kFrames = 30;
    constexpr int kMarked = 20;
    uint8_t stream[kFrames][kCodedBytes];
    for (auto &frame : stream) {
        SpeechFrame(frame, 40 + static_cast<int>(rng() % 60), 2, 1 + static_cast<int>(rng() % 127), 22, rng);
    }
    float reference[kFrames][kFrameLength];
    Decoder plain;
    for (int f = 0; f < kFrames; ++f) plain.Frame(stream[f], reference[f]);

    for (int type : {0, 1, 2, 7, 31}) {
        uint8_t marked[kFrames][kCodedBytes];
        std::memcpy(marked, stream, sizeof marked);
        SetType(marked[kMarked], type);
        Decoder d;
        for (int f = 0; f < kFrames; ++f) {
            float y[kFrameLength];
            d.Frame(marked[f], y);
            const bool same = std::memcmp(y, reference[f], sizeof y) == 0;
            if (f <= kMarked) {
                // The marked frame itself is still speech.
                ASSERT_TRUE(same) << "type " << type << " frame " << f;
            } else if (f == kMarked + 1) {
                // The frame after it is comfort noise (type 2) or concealed (any other type).
                EXPECT_FALSE(same) << "type " << type;
                EXPECT_EQ(d.s->comfortNoise, type == kComfortNoiseFrame) << type;
                EXPECT_EQ(d.s->fadedSubframes, type == kComfortNoiseFrame ? 0 : kSubframes) << type;
            } else if (f == kMarked + 2) {
                // Its own type bits were 3 again: speech resumes.
                EXPECT_FALSE(d.s->comfortNoise);
                EXPECT_EQ(d.s->fadedSubframes, 0);
            }
        }
    }
}

TEST(Decoder, ZeroBytesAreOneSpeechFrameThenFadeToSilence) {
    // The first frame of zeros is parsed as speech (pulses of the smallest
    // amplitude); its type 0 makes every later frame a lost one.
    Decoder d;
    const uint8_t zero[kCodedBytes] = {};
    EXPECT_GT(d.Frame(zero), 0.0);
    EXPECT_EQ(d.s->carriedType, 0);
    for (int f = 1; f <= kFadeSubframes / kSubframes + 1; ++f) d.Frame(zero);
    for (float x : d.s->excitation) EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(d.s->fadedSubframes, kFadeSubframes);
}

double Rms(const float *x, int length) {
    double e = 0;
    for (int n = 0; n < length; ++n) e += static_cast<double>(x[n]) * x[n];
    return std::sqrt(e / length);
}

// Lost frames after speech repeat the last pitch period 0.9 times weaker
// every 4 ms sub-frame and are silent after 160 ms.  The figures are written
// out here rather than read from the decoder's constants, so that a fade
// changed or removed there fails.
TEST(Decoder, LostFramesAfterSpeechFadeToSilenceIn160Ms) {
    Decoder d;
    std::mt19937 rng(1);
    uint8_t frame[kCodedBytes];
    for (int f = 0; f < 20; ++f) {
        SpeechFrame(frame, 60, 2, 127, 24, rng, true);
        if (f == 19) SetType(frame, 1); // the next frame is lost
        d.Frame(frame);
    }
    const Lsp held = d.s->previousLsp;
    const uint8_t lost[kCodedBytes] = {0x01};   // type 1 again: no parameters
    constexpr int kLostFramesUntilSilence = 20; // 160 ms of 8 ms frames
    double peak = Peak(d.s->excitation, kFrameLength);
    ASSERT_GT(peak, 0.0);
    std::vector<double> levels; // output RMS of each lost frame
    for (int f = 0; f < kLostFramesUntilSilence; ++f) {
        float y[kFrameLength];
        d.Frame(lost, y);
        levels.push_back(Rms(y, kFrameLength));
        // Two sub-frames, each 0.9 times the period before it: at most 0.9
        // of the frame before (0.81 where the lag spans the frame).
        const double next = Peak(d.s->excitation, kFrameLength);
        EXPECT_GT(next, 0.0) << f;
        EXPECT_LE(next, 0.9 * peak * (1.0 + 1e-6)) << f;
        EXPECT_EQ(d.s->previousLsp, held);
        peak = next;
    }
    // The output follows more slowly, as the held envelope rings (about 0.89
    // per frame on this one): more than 8 dB down after 80 ms, 15 dB by the end.
    EXPECT_LT(levels[10], levels[0] * std::pow(10.0, -8.0 / 20.0));
    EXPECT_LT(levels[kLostFramesUntilSilence - 1], levels[0] * std::pow(10.0, -15.0 / 20.0));
    // Silent after 160 ms, and the output dies away with the filters' ringing.
    for (int f = 0; f < 5; ++f) {
        float y[kFrameLength];
        d.Frame(lost, y);
        for (float x : d.s->excitation) EXPECT_EQ(x, 0.0f);
        if (f == 4) {
            EXPECT_LT(Rms(y, kFrameLength), levels[0] * 1e-3);
        }
    }
    // Speech resumes with the frame after one whose type bits are 3.
    SpeechFrame(frame, 60, 2, 127, 24, rng);
    SetType(frame, 3);
    float y[kFrameLength];
    d.Frame(frame, y);
    EXPECT_EQ(Peak(d.s->excitation, kFrameLength), 0.0); // still concealed
    EXPECT_GT(d.Frame(frame), 0.0);
    EXPECT_EQ(d.s->fadedSubframes, 0);
}

// A frame that carries comfort noise: the four LSP indices after the type
// bits, then a 9-bit level; its own type bits govern the frame after it.
void ComfortFrame(uint8_t *out, int level, int nextType) {
    std::memset(out, 0, kCodedBytes);
    dsp::BitWriter w(out, kCodedBytes);
    w.Write(static_cast<uint32_t>(nextType), 5);
    for (int s = 0; s < kLspStages; ++s) w.Write(static_cast<uint32_t>(3 * s + 1), 6);
    w.Write(static_cast<uint32_t>(level), 9);
}

TEST(Decoder, ComfortNoiseHasTheLevelAndGoesOnUntilSpeech) {
    Decoder d;
    uint8_t frame[kCodedBytes];
    ComfortFrame(frame, 300, kComfortNoiseFrame);
    d.Frame(frame); // parsed as speech: the carried type starts at 3
    EXPECT_FALSE(d.s->comfortNoise);
    double power = 0;
    int samples = 0;
    for (int f = 0; f < 200; ++f) {
        d.Frame(frame);
        EXPECT_TRUE(d.s->comfortNoise);
        if (f < 20) continue;
        for (float x : d.s->speech) power += static_cast<double>(x) * x;
        samples += kFrameLength;
    }
    EXPECT_NEAR(std::sqrt(power / samples), 300.0, 60.0);
    // Frames without parameters go on with the noise, the same envelope and level.
    const Lsp envelope = d.s->previousLsp;
    ComfortFrame(frame, 300, 7);
    d.Frame(frame);
    const uint8_t empty[kCodedBytes] = {0x07};
    for (int f = 0; f < 30; ++f) {
        EXPECT_GT(d.Frame(empty), 0.0);
        EXPECT_TRUE(d.s->comfortNoise);
        EXPECT_EQ(d.s->fadedSubframes, 0);
        EXPECT_EQ(d.s->previousLsp, envelope);
        EXPECT_EQ(d.s->noiseLevel, 300);
    }
    // A frame whose type bits are 3 is still noise; the one after it is speech.
    const uint8_t announce[kCodedBytes] = {0x03};
    d.Frame(announce);
    EXPECT_TRUE(d.s->comfortNoise);
    std::mt19937 rng(2);
    SpeechFrame(frame, 40, 1, 5, 10, rng);
    d.Frame(frame);
    EXPECT_FALSE(d.s->comfortNoise);
    // Level 0 adds no noise.
    ComfortFrame(frame, 0, kComfortNoiseFrame);
    d.Frame(frame);
    for (int f = 0; f < 3; ++f) {
        d.Frame(frame);
        for (float x : d.s->excitation) EXPECT_EQ(x, 0.0f);
    }
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
