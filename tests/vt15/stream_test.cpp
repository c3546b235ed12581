// Whole streams through the codec frame the library exports: N frames of
// input give N + 1 coded frames, any way of offering the bytes decodes the
// same, a short offer changes nothing, and any byte stream decodes safely.
#include "engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace vntr::vt15 {
namespace {

using Codec = frame::Frame<Engine>;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;

// Real speech (codec2-examples' kristoff.raw, in the training corpus), or a
// speech-like signal: syllables of two vowels with rising pitch, and pauses.
std::vector<int16_t> TestSpeech(int frames) {
    std::ifstream in("/usr/share/codec2/raw/kristoff.raw", std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> pcm(static_cast<std::size_t>(frames * kFrameLength), 0);
    if (bytes.size() >= pcm.size() * 2) {
        if (!pcm.empty()) std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
        return pcm;
    }
    double phase = 0.0, a1 = 0, a2 = 0, b1 = 0, b2 = 0;
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 20.0);
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        const int syllable = static_cast<int>(t / 0.2);
        const double within = t / 0.2 - syllable;
        const bool pause = syllable % 5 == 4;
        phase += (100.0 + 40.0 * within) / 8000.0;
        double x = noise(rng);
        if (phase >= 1.0) {
            phase -= 1.0;
            if (!pause) x += 6000.0 * std::sin(std::numbers::pi * within);
        }
        auto resonance = [](double f, double bw, double v, double &y1, double &y2) {
            const double r = std::exp(-std::numbers::pi * bw / 8000.0);
            const double y = v + 2 * r * std::cos(2 * std::numbers::pi * f / 8000.0) * y1 - r * r * y2;
            y2 = y1;
            y1 = y;
            return y;
        };
        const bool open = syllable % 2 == 0;
        const double y = resonance(open ? 1200 : 2300, 120, resonance(open ? 700 : 300, 80, x, a1, a2), b1, b2);
        pcm[n] = static_cast<int16_t>(std::clamp(0.05 * y, -30000.0, 30000.0));
    }
    return pcm;
}

struct Encoded {
    std::vector<uint8_t> bytes;
    int frames = 0;
};

Encoded Encode(const std::vector<int16_t> &pcm) {
    CodecFormat f{};
    EXPECT_EQ(Codec::OpenEncoder(kFormat, 0, &f), CODEC_OK);
    Encoded e;
    for (std::size_t at = 0; at + kFrameLength <= pcm.size(); at += kFrameLength) {
        uint8_t out[kMaxCodedBytes];
        uint16_t in = kFrameBytes, cap = kMaxCodedBytes;
        EXPECT_EQ(Codec::Encode(f.handle, 0, &pcm[at], &in, out, &cap), CODEC_OK);
        EXPECT_EQ(in, kFrameBytes);
        EXPECT_LE(cap, 6) << "a frame call hands out at most 6 whole bytes";
        e.bytes.insert(e.bytes.end(), out, out + cap);
        ++e.frames;
    }
    uint8_t out[kMaxCodedBytes];
    const int16_t unused = 0; // the end-of-stream call reads no samples, but wants a pointer
    uint16_t in = CODEC_END_OF_STREAM, cap = kMaxCodedBytes;
    EXPECT_EQ(Codec::Encode(f.handle, 0, &unused, &in, out, &cap), CODEC_OK);
    EXPECT_EQ(in, 0);
    EXPECT_GE(cap, 1);
    e.bytes.insert(e.bytes.end(), out, out + cap);
    EXPECT_EQ(Codec::CloseEncoder(f.handle), CODEC_OK);
    return e;
}

// Decodes with offers chosen by `offer(left)`, carrying unconsumed bytes over
// as callers do, until 11 with nothing left to add.
template <class Offer>
std::vector<int16_t> Decode(const std::vector<uint8_t> &stream, Offer offer, int *frames = nullptr) {
    CodecFormat f{};
    EXPECT_EQ(Codec::OpenDecoder(kFormat, 0, &f), CODEC_OK);
    std::vector<int16_t> out;
    std::size_t pos = 0;
    int decoded = 0;
    for (;;) {
        const std::size_t left = stream.size() - pos;
        std::size_t n = std::min(left, offer(left));
        // Exactly the offer (one byte when empty, for a valid pointer), so that
        // reading past it is caught by the sanitizer.
        std::vector<uint8_t> buffer(std::max<std::size_t>(n, 1));
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(pos), n, buffer.begin());
        int16_t pcm[kFrameLength];
        uint16_t in = static_cast<uint16_t>(n), cap = kFrameBytes;
        const CodecStatus s = Codec::Decode(f.handle, 0, buffer.data(), &in, pcm, &cap);
        if (s == CODEC_ERR_NEED_DATA) {
            EXPECT_EQ(in, n) << "the caller's count stays on 11";
            if (n == left) break; // nothing more to add
            continue;             // offer more next time
        }
        EXPECT_EQ(s, CODEC_OK);
        if (s != CODEC_OK) break;
        EXPECT_LE(in, std::min<std::size_t>(n, kMaxCodedBytes));
        EXPECT_EQ(cap, kFrameBytes);
        pos += in;
        out.insert(out.end(), pcm, pcm + kFrameLength);
        ++decoded;
    }
    EXPECT_EQ(Codec::CloseDecoder(f.handle), CODEC_OK);
    if (frames) *frames = decoded;
    return out;
}

TEST(Stream, NFramesOfInputCarryNPlusOneCodedFrames) {
    for (int frames : {0, 1, 2, 7, 60}) {
        const Encoded e = Encode(TestSpeech(frames));
        int decoded = -1;
        Decode(
            e.bytes, [](std::size_t) { return std::size_t{7}; }, &decoded);
        EXPECT_EQ(decoded, frames + 1) << frames;
    }
}

TEST(Stream, EveryWayOfOfferingTheBytesDecodesTheSame) {
    const Encoded e = Encode(TestSpeech(300));
    const auto reference = Decode(e.bytes, [](std::size_t) { return std::size_t{7}; });
    ASSERT_EQ(reference.size(), static_cast<std::size_t>(301 * kFrameLength));
    // Larger offers than any frame needs, as the evaluator makes them.
    EXPECT_EQ(Decode(e.bytes, [](std::size_t) { return std::size_t{8}; }), reference);
    EXPECT_EQ(Decode(e.bytes, [](std::size_t) { return std::size_t{100}; }), reference);
    // Random offers, often too short.
    std::mt19937 rng(9);
    EXPECT_EQ(Decode(e.bytes, [&](std::size_t) { return std::size_t{1 + rng() % 8}; }), reference);
    // Growing from one byte: each 11 is answered with one more byte.
    std::size_t grow = 1;
    std::size_t lastLeft = 0;
    EXPECT_EQ(Decode(e.bytes,
                     [&](std::size_t left) {
                         grow = left == lastLeft ? grow + 1 : 1;
                         lastLeft = left;
                         return grow;
                     }),
              reference);
}

TEST(Stream, NothingOfferedIsTooLittleAndMoreThanSevenBytesAreNeverRead) {
    CodecFormat f{};
    ASSERT_EQ(Codec::OpenDecoder(kFormat, 0, &f), CODEC_OK);
    uint8_t bytes[16] = {};
    int16_t pcm[kFrameLength];
    uint16_t in = 0, cap = kFrameBytes;
    EXPECT_EQ(Codec::Decode(f.handle, 0, bytes, &in, pcm, &cap), CODEC_ERR_NEED_DATA);
    EXPECT_EQ(in, 0);
    // Class 0 frames back to back from bit 6: the second needs bytes 5..11.
    const Encoded e = Encode(TestSpeech(80));
    std::vector<uint8_t> padded = e.bytes;
    for (std::size_t i = 0; i + 16 <= padded.size(); i += 3) {
        CodecFormat g{};
        ASSERT_EQ(Codec::OpenDecoder(kFormat, 0, &g), CODEC_OK);
        CodecFormat h{};
        ASSERT_EQ(Codec::OpenDecoder(kFormat, 0, &h), CODEC_OK);
        std::vector<uint8_t> a(padded.begin() + static_cast<std::ptrdiff_t>(i),
                               padded.begin() + static_cast<std::ptrdiff_t>(i + 16));
        std::vector<uint8_t> b = a;
        for (std::size_t k = 7; k < 16; ++k) b[k] = static_cast<uint8_t>(~b[k]);
        int16_t pa[kFrameLength], pb[kFrameLength];
        uint16_t ia = 16, ib = 16, ca = kFrameBytes, cb = kFrameBytes;
        ASSERT_EQ(Codec::Decode(g.handle, 0, a.data(), &ia, pa, &ca), CODEC_OK);
        ASSERT_EQ(Codec::Decode(h.handle, 0, b.data(), &ib, pb, &cb), CODEC_OK);
        EXPECT_EQ(ia, ib);
        EXPECT_LE(ia, 7);
        EXPECT_EQ(0, std::memcmp(pa, pb, sizeof pa));
        Codec::CloseDecoder(g.handle);
        Codec::CloseDecoder(h.handle);
    }
    Codec::CloseDecoder(f.handle);
}

TEST(Stream, AFrameThatRunsPastTheOfferLeavesTheDecoderExactlyAsItWas) {
    const Encoded e = Encode(TestSpeech(120));
    auto state = std::make_unique<DecoderState>();
    auto before = std::make_unique<DecoderState>();
    InitDecoder(*state);
    std::size_t pos = 0;
    int frames = 0;
    while (pos < e.bytes.size()) {
        // Find the smallest offer that decodes, trying each shorter one first.
        int offer = 0;
        for (;; ++offer) {
            ASSERT_LE(offer, 7);
            if (pos + static_cast<std::size_t>(offer) > e.bytes.size()) break;
            std::memcpy(before.get(), state.get(), sizeof(DecoderState));
            float pcm[kFrameLength];
            int consumed = -1;
            if (DecodeFrame(*state, e.bytes.data() + pos, offer, &consumed, pcm) == DecodeResult::Decoded) {
                pos += static_cast<std::size_t>(consumed);
                ++frames;
                break;
            }
            ASSERT_EQ(0, std::memcmp(before.get(), state.get(), sizeof(DecoderState))) << "frame " << frames;
            ASSERT_EQ(consumed, -1);
        }
        if (pos + static_cast<std::size_t>(offer) > e.bytes.size()) break;
    }
    EXPECT_EQ(frames, 121);
}

// The described encoder, the tuned one (VT15 HQ), and one with the other
// tried settings that change what is sent (the nearest first gain, band
// voicing near the pitch, the tracker without the smoothing's pitch rules).
class StreamInStep : public ::testing::TestWithParam<int> {};

EncoderTuning TuningUnderTest(int which) {
    EncoderTuning t = which == 1 ? TunedEncoder() : EncoderTuning{};
    if (which == 2) {
        t.pitchContinuity = 0.1f;
        t.pitchCandidates = 6;
        t.smoothPitch = false;
        t.nearestGain1 = true;
        t.voicingReach = 1.0f;
    }
    return t;
}

TEST_P(StreamInStep, TheDecoderRebuildsExactlyWhatTheEncoderQuantised) {
    const std::vector<int16_t> pcm = TestSpeech(400);
    auto enc = std::make_unique<EncoderState>();
    auto dec = std::make_unique<DecoderState>();
    InitEncoder(*enc, TuningUnderTest(GetParam()));
    InitDecoder(*dec);
    std::vector<uint8_t> pending; // whole bytes handed out, not yet consumed
    int classes[kClassCount] = {};
    uint8_t out[kMaxCodedBytes];
    for (std::size_t at = 0; at + kFrameLength <= pcm.size(); at += kFrameLength) {
        float x[kFrameLength];
        for (int n = 0; n < kFrameLength; ++n) x[n] = pcm[at + static_cast<std::size_t>(n)];
        const int n = EncodeFrame(*enc, x, out);
        pending.insert(pending.end(), out, out + n);
        // The frame just coded ends in the encoder's partial byte: offer it too
        // (the frame never uses it up, so it is never consumed).
        std::vector<uint8_t> offer = pending;
        if (enc->remainder.count) offer.push_back(enc->remainder.bits);
        float decoded[kFrameLength];
        int consumed = 0;
        ASSERT_EQ(DecodeFrame(*dec, offer.data(), static_cast<int>(offer.size()), &consumed, decoded),
                  DecodeResult::Decoded);
        ASSERT_LE(static_cast<std::size_t>(consumed), pending.size());
        pending.erase(pending.begin(), pending.begin() + consumed);
        ASSERT_EQ(dec->bitOffset, enc->remainder.count);

        const FrameRecord &coded = enc->previous;
        ++classes[coded.frameClass];
        ASSERT_EQ(dec->history.frameClass, coded.frameClass);
        ASSERT_EQ(dec->history.gain2Index, coded.gain2Index);
        if (coded.frameClass <= kClassVoicedContinued) {
            ASSERT_EQ(dec->history.pitchIndex, coded.pitchIndex);
        }
        for (int k = 0; k < kOrder; ++k) ASSERT_EQ(dec->history.lsf[k], coded.quantisedLsf[k]);
    }
    // Speech with pauses uses every class.
    for (int c = 0; c < kClassCount; ++c) EXPECT_GT(classes[c], 0) << c;
}

INSTANTIATE_TEST_SUITE_P(Encoders, StreamInStep, ::testing::Values(0, 1, 2), [](const auto &param) {
    return std::string(param.param == 0 ? "Described" : param.param == 1 ? "Tuned" : "OtherSettings");
});

TEST(Stream, RealSpeechComesBackWithItsLoudnessContour) {
    const std::vector<int16_t> pcm = TestSpeech(400);
    const Encoded coded = Encode(pcm);
    const auto decoded = Decode(coded.bytes, [](std::size_t) { return std::size_t{7}; });
    // Frame energies in dB of the input and of the output, which lags by about 2.5 frames.
    auto energies = [](const std::vector<int16_t> &x, std::size_t skip) {
        std::vector<double> db;
        for (std::size_t at = skip; at + 160 <= x.size(); at += 160) {
            double sum = 1.0;
            for (std::size_t i = at; i < at + 160; ++i) sum += static_cast<double>(x[i]) * x[i];
            db.push_back(10.0 * std::log10(sum / 160.0));
        }
        return db;
    };
    double best = -1.0;
    for (std::size_t delay = 200; delay <= 700; delay += 20) {
        const auto a = energies(pcm, 0), b = energies(decoded, delay);
        const std::size_t n = std::min(a.size(), b.size());
        double ma = 0, mb = 0;
        for (std::size_t i = 0; i < n; ++i) {
            ma += a[i];
            mb += b[i];
        }
        ma /= static_cast<double>(n);
        mb /= static_cast<double>(n);
        double ab = 0, aa = 0, bb = 0;
        for (std::size_t i = 0; i < n; ++i) {
            ab += (a[i] - ma) * (b[i] - mb);
            aa += (a[i] - ma) * (a[i] - ma);
            bb += (b[i] - mb) * (b[i] - mb);
        }
        best = std::max(best, ab / std::sqrt(aa * bb));
    }
    EXPECT_GT(best, 0.9);
}

TEST(Stream, AnyByteStreamDecodesSafely) {
    // A bounded fuzz run: random bytes, random offers; every call returns 0 or
    // 11, never consumes more than it was offered or than 7, and the output
    // stays finite (16-bit samples after the frame's clipping).
    std::mt19937 rng(13);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<uint8_t> bytes(1 + rng() % 400);
        const int style = trial % 3;
        for (uint8_t &b : bytes)
            b = style == 0 ? static_cast<uint8_t>(rng()) : (style == 1 ? 0xFF : static_cast<uint8_t>(rng() & 0x0F));
        CodecFormat f{};
        ASSERT_EQ(Codec::OpenDecoder(kFormat, 0, &f), CODEC_OK);
        std::size_t pos = 0;
        int calls = 0;
        while (pos < bytes.size() && calls < 2000) {
            const std::size_t left = bytes.size() - pos;
            const uint16_t offered = static_cast<uint16_t>(std::min<std::size_t>(left, 1 + rng() % 10));
            std::vector<uint8_t> buffer(bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                                        bytes.begin() + static_cast<std::ptrdiff_t>(pos + offered));
            int16_t pcm[kFrameLength];
            uint16_t in = offered, cap = kFrameBytes;
            const CodecStatus s = Codec::Decode(f.handle, 0, buffer.data(), &in, pcm, &cap);
            ++calls;
            if (s == CODEC_ERR_NEED_DATA) {
                if (offered == left) break;
                continue;
            }
            ASSERT_EQ(s, CODEC_OK);
            ASSERT_LE(in, offered);
            ASSERT_LE(in, 7);
            pos += in;
        }
        ASSERT_EQ(Codec::CloseDecoder(f.handle), CODEC_OK);
    }
}

} // namespace
} // namespace vntr::vt15
