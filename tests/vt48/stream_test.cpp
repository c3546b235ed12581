// Whole streams through the engine and the codec frame: encoder and decoder
// in step, both sample widths, handles side by side, silence, real speech,
// and any byte stream decoding safely.
#include "decoder.hpp"
#include "encoder.hpp"
#include "engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <vector>

namespace vntr::vt48 {
namespace {

using Frame = frame::Frame<Engine>;
constexpr uint32_t k16 = kFormat16Bit | CODEC_FMT_8KHZ;
constexpr uint32_t k8 = kFormat8Bit | CODEC_FMT_8KHZ;

std::vector<int16_t> ReadRaw(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

// Real speech from the codec2 examples that the training corpus also uses, or
// a speech-like signal when they are not installed.
std::vector<int16_t> Speech() {
    for (const char *path : {"/usr/share/codec2/raw/kristoff.raw", "/usr/share/codec2/raw/cq_ref.raw"}) {
        auto pcm = ReadRaw(path);
        if (pcm.size() >= kFrameLength * 100) return pcm;
    }
    std::vector<int16_t> pcm(kFrameLength * 200);
    double phase = 0.0, y1 = 0.0, y2 = 0.0;
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        phase += (120.0 + 25.0 * std::sin(2 * 3.14159 * 0.8 * t)) / 8000.0;
        const double x = phase >= 1.0 ? 4000.0 : 0.0;
        if (phase >= 1.0) phase -= 1.0;
        const double y = x + 1.4 * y1 - 0.75 * y2;
        y2 = y1;
        y1 = y;
        pcm[n] = static_cast<int16_t>(std::clamp(y, -30000.0, 30000.0) * (std::fmod(t, 1.0) < 0.8 ? 1.0 : 0.01));
    }
    return pcm;
}

const uint8_t *Bytes(const int16_t *pcm) {
    return reinterpret_cast<const uint8_t *>(pcm);
}

TEST(Stream, EncoderAndDecoderKeepTheSameExcitation) {
    const auto speech = Speech();
    auto enc = std::make_unique<EncoderState>();
    auto dec = std::make_unique<DecoderState>();
    InitEncoder(*enc, false);
    InitDecoder(*dec);
    for (std::size_t f = 0; f + kFrameLength <= speech.size() && f < kFrameLength * 400; f += kFrameLength) {
        uint8_t coded[kCodedBytes];
        EncodeFrame(*enc, Bytes(&speech[f]), coded);
        int16_t pcm[kFrameLength];
        DecodeFrame(*dec, coded, pcm);
        ASSERT_EQ(0, std::memcmp(enc->excitation, dec->excitation, sizeof enc->excitation)) << "frame " << f / 160;
        ASSERT_EQ(enc->previousLsf, dec->previousLsf);
        for (int s = 0; s < kSubframes; ++s) {
            ASSERT_EQ(0, std::memcmp(enc->lpc[s], dec->lpc[s], sizeof enc->lpc[s]));
        }
        // The encoder's lags are those the format can carry without the decoder's limit.
        int lags[kSubframes];
        DecodeLags(UnpackFrame(coded), lags);
        for (int lag : lags) {
            ASSERT_GE(lag, kMinCodedLag);
            ASSERT_LE(lag, kMaxLag);
        }
    }
}

std::vector<uint8_t> EncodeAll(const std::vector<uint8_t> &pcm, uint32_t format) {
    CodecFormat enc{};
    EXPECT_EQ(Frame::OpenEncoder(format, 0, &enc), CODEC_OK);
    std::vector<uint8_t> coded;
    for (std::size_t at = 0; at + enc.frameBytes <= pcm.size(); at += enc.frameBytes) {
        uint8_t out[kCodedBytes];
        uint16_t in = enc.frameBytes, outBytes = sizeof out;
        EXPECT_EQ(Frame::Encode(enc.handle, 0, &pcm[at], &in, out, &outBytes), CODEC_OK);
        EXPECT_EQ(outBytes, kCodedBytes);
        EXPECT_EQ(in, enc.frameBytes);
        coded.insert(coded.end(), out, out + outBytes);
    }
    uint8_t out[kCodedBytes];
    uint16_t in = CODEC_END_OF_STREAM, outBytes = sizeof out;
    EXPECT_EQ(Frame::Encode(enc.handle, 0, pcm.data(), &in, out, &outBytes), CODEC_OK);
    EXPECT_EQ(outBytes, 0) << "nothing is held back";
    EXPECT_EQ(in, 0);
    EXPECT_EQ(Frame::CloseEncoder(enc.handle), CODEC_OK);
    return coded;
}

std::vector<uint8_t> DecodeAll(const std::vector<uint8_t> &coded, uint32_t format) {
    CodecFormat dec{};
    EXPECT_EQ(Frame::OpenDecoder(format, 0, &dec), CODEC_OK);
    std::vector<uint8_t> pcm;
    std::vector<uint8_t> out(dec.frameBytes);
    for (std::size_t at = 0; at + kCodedBytes <= coded.size(); at += kCodedBytes) {
        uint16_t in = kCodedBytes, outBytes = dec.frameBytes;
        EXPECT_EQ(Frame::Decode(dec.handle, 0, &coded[at], &in, out.data(), &outBytes), CODEC_OK);
        EXPECT_EQ(in, kCodedBytes);
        EXPECT_EQ(outBytes, dec.frameBytes);
        pcm.insert(pcm.end(), out.begin(), out.end());
    }
    EXPECT_EQ(Frame::CloseDecoder(dec.handle), CODEC_OK);
    return pcm;
}

TEST(Stream, EightBitInputIsCodedLikeTheSixteenBitInputItStandsFor) {
    const auto speech = Speech();
    const std::size_t frames = std::min<std::size_t>(speech.size() / kFrameLength, 300);
    std::vector<uint8_t> eight(frames * kFrameLength);
    std::vector<uint8_t> sixteen(frames * kFrameLength * 2);
    for (std::size_t n = 0; n < eight.size(); ++n) {
        eight[n] = ToPcm8(speech[n]);
        const auto wide = static_cast<int16_t>((eight[n] - 128) * 256);
        std::memcpy(&sixteen[2 * n], &wide, 2);
    }
    const auto coded = EncodeAll(eight, k8);
    EXPECT_EQ(coded, EncodeAll(sixteen, k16));
    ASSERT_EQ(coded.size(), frames * kCodedBytes);

    // The 8-bit output is the 16-bit output's high byte plus 128.
    const auto narrow = DecodeAll(coded, k8);
    const auto wide = DecodeAll(coded, k16);
    ASSERT_EQ(narrow.size() * 2, wide.size());
    for (std::size_t n = 0; n < narrow.size(); ++n) {
        int16_t s;
        std::memcpy(&s, &wide[2 * n], 2);
        ASSERT_EQ(narrow[n], ToPcm8(s)) << n;
    }
}

TEST(Stream, TwoEncodersSideBySideGiveTheBytesOfEachAlone) {
    const auto speech = Speech();
    const std::size_t frames = std::min<std::size_t>(speech.size() / kFrameLength, 200);
    std::vector<uint8_t> a(Bytes(speech.data()), Bytes(speech.data()) + frames * kFrameLength * 2);
    // The second encoder codes the same speech backwards, so that its analysis differs at every step.
    std::vector<uint8_t> b(a.size());
    for (std::size_t n = 0; n < frames * kFrameLength; ++n) {
        std::memcpy(&b[2 * n], &a[2 * (frames * kFrameLength - 1 - n)], 2);
    }
    const auto aloneA = EncodeAll(a, k16);
    const auto aloneB = EncodeAll(b, k16);
    CodecFormat ea{}, eb{};
    ASSERT_EQ(Frame::OpenEncoder(k16, 0, &ea), CODEC_OK);
    ASSERT_EQ(Frame::OpenEncoder(k16, 0, &eb), CODEC_OK);
    std::vector<uint8_t> together[2];
    for (std::size_t f = 0; f < frames; ++f) {
        uint8_t out[kCodedBytes];
        uint16_t in = 320, outBytes = sizeof out;
        ASSERT_EQ(Frame::Encode(ea.handle, 0, &a[f * 320], &in, out, &outBytes), CODEC_OK);
        together[0].insert(together[0].end(), out, out + outBytes);
        in = 320;
        outBytes = sizeof out;
        ASSERT_EQ(Frame::Encode(eb.handle, 0, &b[f * 320], &in, out, &outBytes), CODEC_OK);
        together[1].insert(together[1].end(), out, out + outBytes);
    }
    EXPECT_EQ(together[0], aloneA);
    EXPECT_EQ(together[1], aloneB);
    Frame::CloseEncoder(ea.handle);
    Frame::CloseEncoder(eb.handle);
}

TEST(Stream, EveryKernelKindCodesTheSameBytes) {
    // The AVX2 kernels only take fewer steps: the encoder that uses them must
    // send what the SSE2 one sends, frame for frame.
    if (dsp::DetectSimd() != Simd::Avx2) GTEST_SKIP() << "this processor runs only the SSE2 kernels";
    const auto speech = Speech();
    const std::size_t frames = std::min<std::size_t>(speech.size() / kFrameLength, 300);
    static EncoderState narrow, wide;
    InitEncoder(narrow, false);
    InitEncoder(wide, false);
    narrow.simd = Simd::Sse2;
    wide.simd = Simd::Avx2;
    for (std::size_t f = 0; f < frames; ++f) {
        uint8_t a[kCodedBytes], b[kCodedBytes];
        EncodeFrame(narrow, Bytes(speech.data() + f * kFrameLength), a);
        EncodeFrame(wide, Bytes(speech.data() + f * kFrameLength), b);
        ASSERT_EQ(std::memcmp(a, b, kCodedBytes), 0) << "frame " << f;
    }
}

struct SilenceWatch : EncoderObserver {
    int subframes = 0;
    int trains = 0;
    int louder = 0;
    void OnSubframe(const SubframeTrace &t) override {
        ++subframes;
        trains += t.fixed.kind == FixedKind::PulseTrain ? 1 : 0;
        louder += (t.fixed.gainIndex & 15) != 0 ? 1 : 0;
    }
};

TEST(Stream, SilenceIsQuietAndDecodesNearZero) {
    auto enc = std::make_unique<EncoderState>();
    auto dec = std::make_unique<DecoderState>();
    for (bool eightBit : {false, true}) {
        InitEncoder(*enc, eightBit);
        InitDecoder(*dec);
        // Digital silence in either width: 0 or the 8-bit mid level 128.
        std::vector<uint8_t> pcm(eightBit ? kFrameLength : 2 * kFrameLength, eightBit ? 128 : 0);
        SilenceWatch watch;
        int peak = 0;
        for (int frame = 0; frame < 50; ++frame) {
            uint8_t coded[kCodedBytes];
            PrepareFrame(*enc, pcm.data());
            ASSERT_TRUE(enc->quiet);
            CodeFrame(*enc, coded, &watch);
            int16_t out[kFrameLength];
            DecodeFrame(*dec, coded, out);
            for (int16_t s : out) peak = std::max(peak, std::abs(static_cast<int>(s)));
        }
        EXPECT_EQ(watch.subframes, 150);
        EXPECT_EQ(watch.trains, 0);
        EXPECT_EQ(watch.louder, 0) << "every codebook gain at the smallest level";
        EXPECT_LE(peak, 20);
    }
}

// Segmental SNR (dB) of `decoded` against `reference` delayed by `delay`
// samples, and the level of the decoded speech against it.
struct Quality {
    double segmentalSnr;
    double level;
};

Quality Measure(const std::vector<float> &reference, const std::vector<uint8_t> &decoded, int delay) {
    double seg = 0.0, a = 0.0, b = 0.0;
    int count = 0;
    const std::size_t samples = decoded.size() / 2;
    for (std::size_t f = 0; f + kFrameLength + static_cast<std::size_t>(delay) <= samples; f += kFrameLength) {
        double s = 0.0, e = 0.0;
        for (std::size_t n = f; n < f + kFrameLength; ++n) {
            int16_t y;
            std::memcpy(&y, &decoded[2 * (n + static_cast<std::size_t>(delay))], 2);
            s += static_cast<double>(reference[n]) * reference[n];
            e += (reference[n] - y) * (reference[n] - y);
            a += std::fabs(reference[n]);
            b += std::fabs(static_cast<double>(y));
        }
        if (s > kFrameLength * 300.0 * 300.0) {
            seg += std::clamp(10.0 * std::log10(s / (e + 1.0)), -10.0, 35.0);
            ++count;
        }
    }
    return {count ? seg / count : 0.0, b / a};
}

// The input through the encoder's input high-pass and the decoder's output
// filter alone: what the chain gives back without coding.
std::vector<float> FilteredReference(const std::vector<int16_t> &speech) {
    HighPassState hp{};
    std::vector<float> x(speech.begin(), speech.end());
    HighPass(hp, x.data(), static_cast<int>(x.size()));
    std::vector<float> reference(x.size());
    float in[4] = {}, out[4] = {};
    for (std::size_t n = 0; n < x.size(); ++n) {
        const float z = kOutputB[0] * x[n] + kOutputB[1] * in[0] + kOutputB[2] * in[1] + kOutputB[3] * in[2] +
                        kOutputB[4] * in[3] -
                        (kOutputA[0] * out[0] + kOutputA[1] * out[1] + kOutputA[2] * out[2] + kOutputA[3] * out[3]);
        in[3] = in[2], in[2] = in[1], in[1] = in[0], in[0] = x[n];
        out[3] = out[2], out[2] = out[1], out[1] = out[0], out[0] = z;
        reference[n] = z;
    }
    return reference;
}

std::vector<uint8_t> EncodeWith(const std::vector<int16_t> &speech, uint32_t refinements) {
    auto enc = std::make_unique<EncoderState>();
    InitEncoder(*enc, false, refinements);
    std::vector<uint8_t> coded;
    for (std::size_t f = 0; f + kFrameLength <= speech.size(); f += kFrameLength) {
        uint8_t out[kCodedBytes];
        EncodeFrame(*enc, Bytes(&speech[f]), out);
        coded.insert(coded.end(), out, out + kCodedBytes);
    }
    return coded;
}

TEST(Stream, TheLibraryCodesWithThePlainSearches) {
    // Through the codec frame, as the exported library runs: the same bytes
    // as the encoder without refinements, and not those of the refined one.
    const auto speech = Speech();
    CodecFormat enc{};
    ASSERT_EQ(Frame::OpenEncoder(k16, 0, &enc), CODEC_OK);
    std::vector<uint8_t> coded;
    for (std::size_t f = 0; f + kFrameLength <= speech.size() && f < kFrameLength * 300; f += kFrameLength) {
        uint8_t out[kCodedBytes];
        uint16_t inBytes = 2 * kFrameLength, outBytes = kCodedBytes;
        ASSERT_EQ(Frame::Encode(enc.handle, 0, Bytes(&speech[f]), &inBytes, out, &outBytes), CODEC_OK);
        ASSERT_EQ(outBytes, kCodedBytes);
        coded.insert(coded.end(), out, out + kCodedBytes);
    }
    ASSERT_EQ(Frame::CloseEncoder(enc.handle), CODEC_OK);
    const auto samples = static_cast<std::ptrdiff_t>(coded.size() / kCodedBytes * kFrameLength);
    const std::vector<int16_t> head(speech.begin(), speech.begin() + samples);
    EXPECT_EQ(coded, EncodeWith(head, kNoRefinements));
    EXPECT_NE(coded, EncodeWith(head, kWaveformRefinements));
}

TEST(Stream, RealSpeechComesBack) {
    const auto speech = Speech();
    // The library's encoder, against what its input filter and the output filter leave.
    const Quality plain = Measure(FilteredReference(speech), DecodeAll(EncodeWith(speech, kNoRefinements), k16), 0);
    // A broken stage (a wrong filter, lost signs, a misplaced field) falls to about 0 dB or below.
    EXPECT_GT(plain.segmentalSnr, 2.0);
    // The pitch sharpening lifts the voiced level somewhat; a lost or doubled gain would not stay in this band.
    EXPECT_GT(plain.level, 0.8);
    EXPECT_LT(plain.level, 1.6);

    // The waveform refinements, against the speech itself: their input filter
    // gives the whole chain linear phase, a delay of kInputFilterDelay samples.
    const std::vector<float> original(speech.begin(), speech.end());
    const auto refinedStream = DecodeAll(EncodeWith(speech, kWaveformRefinements), k16);
    const Quality refined = Measure(original, refinedStream, kInputFilterDelay);
    // The plain chain's phase keeps its waveform well away from the speech itself.
    const Quality plainAgainstSpeech = Measure(original, DecodeAll(EncodeWith(speech, kNoRefinements), k16), 0);
    EXPECT_GT(refined.segmentalSnr, 3.0);
    EXPECT_GT(refined.segmentalSnr, plainAgainstSpeech.segmentalSnr + 2.0);
    // Gains chosen jointly for the waveform match leave the level a little low (about 0.6).
    EXPECT_GT(refined.level, 0.5);
    EXPECT_LT(refined.level, 1.2);
    // Off by one sample of delay the waveform match is visibly worse: the delay is the filter's.
    const Quality shifted = Measure(original, refinedStream, kInputFilterDelay + 1);
    EXPECT_LT(shifted.segmentalSnr, refined.segmentalSnr - 0.3);
}

TEST(Stream, EveryByteStreamDecodesAndTheDecoderRecovers) {
    CodecFormat dec{};
    ASSERT_EQ(Frame::OpenDecoder(k16, 0, &dec), CODEC_OK);
    std::mt19937 rng(2020);
    std::vector<uint8_t> frame(kCodedBytes);
    int16_t pcm[kFrameLength];
    for (int trial = 0; trial < 20000; ++trial) {
        if (trial % 100 < 90) {
            for (auto &b : frame) b = static_cast<uint8_t>(rng());
        } else {
            std::fill(frame.begin(), frame.end(), trial % 2 ? 0xFF : 0x00);
        }
        // Offers of exactly 12 bytes or more decode 12; fewer ask for more.
        const uint16_t offered = static_cast<uint16_t>(10 + rng() % 4);
        std::vector<uint8_t> exact(frame.begin(), frame.begin() + std::min<int>(offered, kCodedBytes));
        exact.resize(offered);
        uint16_t in = offered, outBytes = sizeof pcm;
        const CodecStatus s = Frame::Decode(dec.handle, 0, exact.data(), &in, pcm, &outBytes);
        if (offered < kCodedBytes) {
            ASSERT_EQ(s, CODEC_ERR_NEED_DATA);
            ASSERT_EQ(in, offered);
            continue;
        }
        ASSERT_EQ(s, CODEC_OK);
        ASSERT_EQ(in, kCodedBytes);
        ASSERT_EQ(outBytes, 2 * kFrameLength);
    }
    // After all that a real stream decodes as a fresh decoder decodes it, once the
    // damaged history has been coded over.
    const auto speech = Speech();
    const std::size_t frames = std::min<std::size_t>(speech.size() / kFrameLength, 150);
    const std::vector<uint8_t> input(Bytes(speech.data()), Bytes(speech.data()) + frames * 320);
    const auto coded = EncodeAll(input, k16);
    const auto clean = DecodeAll(coded, k16);
    double signal = 0.0, difference = 0.0;
    for (std::size_t f = 0; f < frames; ++f) {
        uint16_t in = kCodedBytes, outBytes = sizeof pcm;
        ASSERT_EQ(Frame::Decode(dec.handle, 0, &coded[f * kCodedBytes], &in, pcm, &outBytes), CODEC_OK);
        if (f < 25) continue;
        for (int n = 0; n < kFrameLength; ++n) {
            int16_t y;
            std::memcpy(&y, &clean[2 * (f * kFrameLength + static_cast<std::size_t>(n))], 2);
            signal += static_cast<double>(y) * y;
            difference += (static_cast<double>(y) - pcm[n]) * (static_cast<double>(y) - pcm[n]);
        }
    }
    EXPECT_GT(signal, 0.0);
    EXPECT_LT(difference, signal * 1e-3);
    Frame::CloseDecoder(dec.handle);
}

} // namespace
} // namespace vntr::vt48
