// Whole streams: the encoder and the decoder stay in step, real speech comes
// back recognisably, and any byte stream decodes safely.
#include "bitstream.hpp"
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

namespace vntr::vt4864v6 {
namespace {

std::vector<int16_t> ReadRaw(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}

// Real speech from the codec2 examples (also part of the training corpus), or nothing.
std::vector<int16_t> RealSpeech() {
    for (const char *path : {"/usr/share/codec2/raw/kristoff.raw", "/usr/share/codec2/raw/cq_ref.raw"}) {
        auto pcm = ReadRaw(path);
        if (pcm.size() >= 240 * 50) return pcm;
    }
    return {};
}

// Speech-like test signal for when no recording is installed: a glottal
// pulse train with a drifting pitch through two resonances, with pauses.
std::vector<int16_t> SyntheticSpeech(int frames) {
    std::vector<int16_t> pcm(static_cast<std::size_t>(frames * 240));
    double phase = 0.0, y1 = 0, y2 = 0, z1 = 0, z2 = 0;
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0.0, 1.0);
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        const bool voiced = std::fmod(t, 1.2) < 0.9;
        phase += (110.0 + 30.0 * std::sin(2.0 * 3.14159 * 0.7 * t)) / 8000.0;
        double x = voiced ? (phase >= 1.0 ? 3000.0 : 0.0) : 30.0 * noise(rng);
        if (phase >= 1.0) phase -= 1.0;
        const double a = 1.7 * std::cos(2 * 3.14159 * 700 / 8000.0), b = 0.85 * 0.85;
        const double y = x + a * 0.925 * y1 - b * y2;
        y2 = y1;
        y1 = y;
        const double z = y + 2 * 0.9 * std::cos(2 * 3.14159 * 1800 / 8000.0) * z1 - 0.81 * z2;
        z2 = z1;
        z1 = z;
        pcm[n] = static_cast<int16_t>(std::clamp(z * 0.5, -32000.0, 32000.0));
    }
    return pcm;
}

TEST(Stream, EncoderExcitationEqualsTheDecodersWithoutDither) {
    auto speech = RealSpeech();
    if (speech.empty()) speech = SyntheticSpeech(60);
    for (const RateMode *mode : {&kRate6400, &kRate4800}) {
        auto enc = std::make_unique<EncoderState>();
        auto dec = std::make_unique<DecoderState>();
        InitEncoder(*enc, false, *mode);
        InitDecoder(*dec);
        for (std::size_t f = 0; f + 240 <= speech.size() && f < 240 * 200; f += 240) {
            // Alternate rates inside the 6.4 run to cover the switch.
            const RateMode &rate = mode->is4800 ? *mode : ((f / 240) % 3 == 2 ? kRate4800 : kRate6400);
            uint8_t coded[kMaxCodedBytes];
            EncodeFrame(*enc, &speech[f], rate, coded);
            int16_t pcm[240];
            DecodeFrame(*dec, coded, pcm, false);
            ASSERT_EQ(0, std::memcmp(enc->excitation, dec->excitation, sizeof enc->excitation)) << "frame " << f / 240;
            ASSERT_EQ(0, std::memcmp(enc->past, dec->past, sizeof enc->past));
            ASSERT_EQ(0, std::memcmp(enc->synthesis, dec->synthesis, sizeof enc->synthesis));
            ASSERT_EQ(enc->previousLsp, dec->previousLsp);
        }
    }
}

TEST(Stream, DitherIsSmallAndChangesTheExcitationOnly) {
    auto speech = SyntheticSpeech(2);
    auto enc = std::make_unique<EncoderState>();
    InitEncoder(*enc, false, kRate6400);
    uint8_t coded[kMaxCodedBytes];
    EncodeFrame(*enc, speech.data(), kRate6400, coded);
    auto clean = std::make_unique<DecoderState>();
    auto dithered = std::make_unique<DecoderState>();
    InitDecoder(*clean);
    InitDecoder(*dithered);
    int16_t pcm[240];
    DecodeFrame(*clean, coded, pcm, false);
    DecodeFrame(*dithered, coded, pcm, true);
    // In the first sub-frame the past excitation is still zero, so the dither shows as it is.
    double moved = 0.0;
    for (int n = 0; n < 60; ++n) {
        const float d = dithered->excitation[n] - clean->excitation[n];
        ASSERT_LE(std::fabs(d), 0.15f + 1e-4f);
        moved += std::fabs(d);
    }
    EXPECT_GT(moved, 60 * 0.03); // uniform over +-0.15 averages 0.075
}

struct Quality {
    double snr;
    double segmentalSnr;
};

// SNR of the decoded signal against the original, delayed by the coder's 60 samples.
Quality Measure(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded) {
    constexpr std::size_t kDelay = 60;
    double s = 0, e = 0, seg = 0;
    int segments = 0;
    for (std::size_t start = 0; start + 160 + kDelay <= decoded.size() && start + 160 <= original.size();
         start += 160) {
        double fs = 0, fe = 0;
        for (std::size_t n = start; n < start + 160; ++n) {
            const double d = static_cast<double>(original[n]) - decoded[n + kDelay];
            fs += static_cast<double>(original[n]) * original[n];
            fe += d * d;
        }
        s += fs;
        e += fe;
        if (fs > 160.0 * 300.0 * 300.0) {
            seg += std::clamp(10.0 * std::log10(fs / (fe + 1.0)), -10.0, 35.0);
            ++segments;
        }
    }
    return {10.0 * std::log10(s / (e + 1.0)), segments ? seg / segments : 0.0};
}

std::vector<int16_t> RoundTrip(const std::vector<int16_t> &speech, uint32_t options) {
    using Frame = frame::Frame<Engine>;
    const uint32_t format = CODEC_FMT_PCM16_MONO_8KHZ;
    CodecFormat enc{}, dec{};
    EXPECT_EQ(Frame::OpenEncoder(format, options, &enc), CODEC_OK);
    EXPECT_EQ(Frame::OpenDecoder(format, options, &dec), CODEC_OK);
    std::vector<int16_t> out;
    for (std::size_t f = 0; f + 240 <= speech.size(); f += 240) {
        uint8_t coded[24];
        uint16_t in = 480, outBytes = 24;
        EXPECT_EQ(Frame::Encode(enc.handle, 0, &speech[f], &in, coded, &outBytes), CODEC_OK);
        int16_t pcm[240];
        uint16_t inBytes = outBytes, pcmBytes = 480;
        EXPECT_EQ(Frame::Decode(dec.handle, 0, coded, &inBytes, pcm, &pcmBytes), CODEC_OK);
        out.insert(out.end(), pcm, pcm + 240);
    }
    Frame::CloseEncoder(enc.handle);
    Frame::CloseDecoder(dec.handle);
    return out;
}

TEST(Stream, RealSpeechComesBackAtBothRates) {
    const auto speech = RealSpeech();
    if (speech.empty()) GTEST_SKIP() << "codec2-examples recordings not installed";
    const Quality high = Measure(speech, RoundTrip(speech, CODEC_OPT_6400));
    const Quality low = Measure(speech, RoundTrip(speech, CODEC_OPT_4800));
    // Waveform-matching floors well above what a broken stage gives (around 0 dB or below).
    EXPECT_GT(high.segmentalSnr, 4.0);
    EXPECT_GT(low.segmentalSnr, 3.0);
    EXPECT_GT(high.snr, low.snr - 0.5);
    // A silent decoder or a doubled level would also fail here.
    double in = 0, out = 0;
    const auto decoded = RoundTrip(speech, CODEC_OPT_6400);
    for (std::size_t n = 0; n + 60 < decoded.size(); ++n) {
        in += std::fabs(static_cast<double>(speech[n]));
        out += std::fabs(static_cast<double>(decoded[n + 60]));
    }
    EXPECT_NEAR(out / in, 0.87, 0.15); // the input filter's scaling of 0.87 stays in the output level
}

TEST(Stream, EveryBitPatternDecodesToBoundedSpeech) {
    using Frame = frame::Frame<Engine>;
    const uint32_t format = CODEC_FMT_PCM16_MONO_8KHZ;
    CodecFormat dec{};
    ASSERT_EQ(Frame::OpenDecoder(format, 0, &dec), CODEC_OK);
    std::mt19937 rng(4864);
    std::vector<uint8_t> frame(24);
    int16_t pcm[240];
    for (int trial = 0; trial < 20000; ++trial) {
        // Random bytes, then runs of extreme patterns that push the predictor and the gains.
        if (trial % 100 < 90) {
            for (auto &b : frame) b = static_cast<uint8_t>(rng());
        } else {
            std::fill(frame.begin(), frame.end(), trial % 2 ? 0xFF : 0xFE);
        }
        const std::size_t offered = 18 + rng() % 7;
        std::vector<uint8_t> exact(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(offered));
        uint16_t in = static_cast<uint16_t>(offered), outBytes = sizeof pcm;
        const CodecStatus s = Frame::Decode(dec.handle, 0, exact.data(), &in, pcm, &outBytes);
        const uint16_t need = (frame[0] & 3) == 0 ? 24 : 18;
        if (offered < need) {
            ASSERT_EQ(s, CODEC_ERR_NEED_DATA);
            ASSERT_EQ(in, need);
            continue;
        }
        ASSERT_EQ(s, CODEC_OK);
        ASSERT_EQ(in, need);
        ASSERT_EQ(outBytes, 480);
    }
    // After all that a real stream still decodes to something of the right level.
    auto speech = RealSpeech();
    if (speech.empty()) speech = SyntheticSpeech(40);
    CodecFormat enc{};
    ASSERT_EQ(Frame::OpenEncoder(format, 0, &enc), CODEC_OK);
    double in = 0, out = 0;
    for (std::size_t f = 0; f + 240 <= speech.size() && f < 240 * 100; f += 240) {
        uint8_t coded[24];
        uint16_t inBytes = 480, outBytes = 24;
        ASSERT_EQ(Frame::Encode(enc.handle, 0, &speech[f], &inBytes, coded, &outBytes), CODEC_OK);
        uint16_t n = outBytes, pcmBytes = 480;
        ASSERT_EQ(Frame::Decode(dec.handle, 0, coded, &n, pcm, &pcmBytes), CODEC_OK);
        if (f >= 240 * 10) {
            for (int i = 0; i < 240; ++i) {
                in += std::fabs(static_cast<double>(speech[f + static_cast<std::size_t>(i)]));
                out += std::fabs(static_cast<double>(pcm[i]));
            }
        }
    }
    EXPECT_NEAR(out / in, 0.87, 0.25);
    Frame::CloseEncoder(enc.handle);
    Frame::CloseDecoder(dec.handle);
}

} // namespace
} // namespace vntr::vt4864v6
