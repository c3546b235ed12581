// The audio coders' coded streams through the libraries' interface: frame
// sizes, the byte a frame hands back, short offers, saturation, the maximal
// frame, independent decoders, real speech, and any byte stream at all.
#include "codec_stream.hpp"
#include "coder.h"
#include "quantiser.h"
#include "signals.hpp"
#include "test_paths.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <random>

namespace vntr::audiocoder {
namespace {

using test::CodecLibraryPath;
using test::DecodeAll;
using test::EncodeAll;
using test::ReadRaw;
using test::Resample;
using test::Tone;

struct Library {
    const char *name;
    uint32_t format;
    int sampleRate;
    const Config *config;
    int silentFrameBits;
};

const Library kLibraries[] = {
    {"VT180", CODEC_FMT_PCM16_MONO_8KHZ, 8000, &kConfig180, 192},
    {"VT250f11", CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ, 11025, &kConfig250f11, 168},
    {"VT500f22", CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ, 22050, &kConfig500f22, 132},
};

void PrintTo(const Library &library, std::ostream *os) {
    *os << library.name;
}

class AudioCoderStream : public ::testing::TestWithParam<Library> {
protected:
    void SetUp() override { lib_ = std::make_unique<CodecBinding>(CodecLibraryPath(GetParam().name)); }
    uint32_t format() const { return GetParam().format; }
    std::unique_ptr<CodecBinding> lib_;
};

// SNR of the decoded signal at its best delay near the filter bank's 481 samples.
double AlignedSnr(const std::vector<int16_t> &ref, const std::vector<int16_t> &out) {
    double best = -1e9;
    for (std::size_t delay = 470; delay <= 490; ++delay) {
        double s = 0, e = 0;
        for (std::size_t n = delay + 2048; n < out.size() && n - delay < ref.size(); ++n) {
            const double r = ref[n - delay];
            s += r * r;
            e += (out[n] - r) * (out[n] - r);
        }
        best = std::max(best, 10 * std::log10(s / std::max(e, 1e-9)));
    }
    return best;
}

TEST_P(AudioCoderStream, SilenceCodesOnlyTheAllocationFields) {
    for (int frames : {8, 9}) {
        const auto stream = EncodeAll(*lib_, format(), 0, std::vector<int16_t>(1152 * frames, 0));
        ASSERT_EQ(stream.frames, frames);
        ASSERT_EQ(stream.frameSizes.size(), static_cast<std::size_t>(frames + 1));
        const int bits = GetParam().silentFrameBits;
        for (int i = 0; i < frames; ++i) {
            // Complete bytes only: what is left of a frame opens the next one.
            const int expected = (bits * (i + 1)) / 8 - (bits * i) / 8;
            EXPECT_EQ(stream.frameSizes[static_cast<std::size_t>(i)], expected) << "frame " << i;
        }
        const int flush = (bits * frames) % 8 != 0 ? 1 : 0;
        EXPECT_EQ(stream.frameSizes.back(), flush) << frames << " frames";
        EXPECT_EQ(stream.bytes.size(), static_cast<std::size_t>((bits * frames + 7) / 8));

        const auto decoded = DecodeAll(*lib_, format(), 0, stream.bytes);
        EXPECT_EQ(decoded.frames, frames);
        for (int16_t v : decoded.pcm) ASSERT_EQ(v, 0);
    }
}

TEST_P(AudioCoderStream, AFrameEndingInsideAByteHandsItBack) {
    const auto stream = EncodeAll(*lib_, format(), 0, Tone(1152 * 12, 700, GetParam().sampleRate, 9000));
    const auto decoded = DecodeAll(*lib_, format(), 0, stream.bytes);
    ASSERT_EQ(decoded.frames, 12);
    // The encoder's complete bytes and the decoder's consumed bytes tell the
    // same story: frame i ends in the byte that frame i+1 starts with exactly
    // when the encoder held that byte back.
    std::size_t encoded = 0, consumed = 0;
    int handedBack = 0;
    for (int i = 0; i < 12; ++i) {
        encoded += stream.frameSizes[static_cast<std::size_t>(i)];
        consumed += decoded.consumed[static_cast<std::size_t>(i)];
        EXPECT_EQ(consumed, encoded) << "frame " << i;
    }
    for (uint16_t c : stream.frameSizes) handedBack += c;
    EXPECT_EQ(static_cast<std::size_t>(handedBack), stream.bytes.size());
}

TEST_P(AudioCoderStream, AShortOfferNeedsDataAndThenDecodesTheSameFrame) {
    const auto stream = EncodeAll(*lib_, format(), 0, Tone(1152 * 4, 450, GetParam().sampleRate, 12000));
    const auto reference = DecodeAll(*lib_, format(), 0, stream.bytes);
    ASSERT_EQ(reference.frames, 4);

    CodecFormat f{};
    ASSERT_EQ(lib_->openDecoder(format(), 0, &f), CODEC_OK);
    std::vector<uint8_t> pcm(f.frameBytes);
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
        const uint16_t need = reference.consumed[static_cast<std::size_t>(i)];
        if (need > f.minCodedBytes + 1) {
            // One byte short of what the frame reaches into: nothing may change.
            std::vector<uint8_t> shortOffer(stream.bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                                            stream.bytes.begin() + static_cast<std::ptrdiff_t>(pos + need - 1));
            uint16_t in = static_cast<uint16_t>(shortOffer.size()), cap = f.frameBytes;
            ASSERT_EQ(lib_->decode(f.handle, 0, shortOffer.data(), &in, pcm.data(), &cap), CODEC_ERR_NEED_DATA);
            EXPECT_EQ(in, need - 1);
        }
        const std::size_t offer = std::min<std::size_t>(stream.bytes.size() - pos, f.maxCodedBytes);
        std::vector<uint8_t> full(stream.bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                                  stream.bytes.begin() + static_cast<std::ptrdiff_t>(pos + offer));
        uint16_t in = static_cast<uint16_t>(offer), cap = f.frameBytes;
        ASSERT_EQ(lib_->decode(f.handle, 0, full.data(), &in, pcm.data(), &cap), CODEC_OK);
        ASSERT_EQ(in, need);
        EXPECT_EQ(std::memcmp(pcm.data(), &reference.pcm[static_cast<std::size_t>(i) * 1152], f.frameBytes), 0)
            << "frame " << i << " after a short offer";
        pos += in;
    }
    EXPECT_EQ(lib_->closeDecoder(f.handle), CODEC_OK);
}

TEST_P(AudioCoderStream, DecodersOfOneLibraryDoNotShareState) {
    const auto a = EncodeAll(*lib_, format(), 0, Tone(1152 * 5, 300, GetParam().sampleRate, 15000));
    const auto b = EncodeAll(*lib_, format(), 0, Tone(1152 * 5, 1900, GetParam().sampleRate, 4000));
    const auto aloneA = DecodeAll(*lib_, format(), 0, a.bytes);
    const auto aloneB = DecodeAll(*lib_, format(), 0, b.bytes);

    CodecFormat fa{}, fb{};
    ASSERT_EQ(lib_->openDecoder(format(), 0, &fa), CODEC_OK);
    ASSERT_EQ(lib_->openDecoder(format(), 0, &fb), CODEC_OK);
    std::size_t pa = 0, pb = 0;
    std::vector<int16_t> outA, outB;
    std::vector<uint8_t> pcm(fa.frameBytes);
    auto step = [&](const CodecFormat &f, const std::vector<uint8_t> &s, std::size_t &pos, std::vector<int16_t> &out) {
        const std::size_t offer = std::min<std::size_t>(s.size() - pos, f.maxCodedBytes);
        uint16_t in = static_cast<uint16_t>(offer), cap = f.frameBytes;
        if (lib_->decode(f.handle, 0, s.data() + pos, &in, pcm.data(), &cap) != CODEC_OK) return false;
        pos += in;
        const auto *v = reinterpret_cast<const int16_t *>(pcm.data());
        out.insert(out.end(), v, v + cap / 2);
        return true;
    };
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(step(fa, a.bytes, pa, outA));
        ASSERT_TRUE(step(fb, b.bytes, pb, outB));
    }
    EXPECT_EQ(outA, aloneA.pcm);
    EXPECT_EQ(outB, aloneB.pcm);
    lib_->closeDecoder(fa.handle);
    lib_->closeDecoder(fb.handle);
}

TEST_P(AudioCoderStream, RealSpeechRoundTrip) {
    const std::string path = test::SpeechRecording("kristoff");
    if (path.empty()) GTEST_SKIP() << "codec2-examples is not installed";
    auto speech = ReadRaw(path);
    speech.resize(std::min<std::size_t>(speech.size(), 8000 * 8));
    if (GetParam().sampleRate != 8000) speech = Resample(speech, 8000, GetParam().sampleRate);
    const auto stream = EncodeAll(*lib_, format(), 0, speech);
    const auto decoded = DecodeAll(*lib_, format(), 0, stream.bytes, 1);
    ASSERT_EQ(decoded.frames, stream.frames);

    CodecFormat f{};
    ASSERT_EQ(lib_->getCodecData(1, format(), 0, &f), CODEC_OK);
    const double seconds = stream.frames * 1152.0 / GetParam().sampleRate;
    const double bitRate = stream.bytes.size() * 8 / seconds;
    EXPECT_GT(bitRate, f.minCodedBytes * 8 / (1152.0 / GetParam().sampleRate));
    EXPECT_LT(bitRate, f.peakBitRate);
    const double snr = AlignedSnr(speech, decoded.pcm);
    RecordProperty("bit_rate", std::to_string(bitRate));
    RecordProperty("snr_db", std::to_string(snr));
    std::printf("%s: %.0f bit/s, SNR %.1f dB\n", GetParam().name, bitRate, snr);
    EXPECT_GT(snr, 6.0);
}

TEST_P(AudioCoderStream, EveryStreamTheEncoderWritesDecodesToItsFrameCount) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 6; ++trial) {
        const int frames = 1 + static_cast<int>(rng() % 9);
        std::vector<int16_t> x(1152u * static_cast<unsigned>(frames) + rng() % 1152);
        // From silence to full-scale noise, so that frames of every size occur,
        // up to the largest the encoder makes.
        const double level = trial == 0 ? 0 : std::pow(10.0, -3.0 + 0.6 * trial);
        std::normal_distribution<double> noise(0, 32767 * level);
        const double burst = static_cast<double>(rng() % 4);
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double envelope = (n / 1152) % 2 == 0 ? 1.0 : burst / 4;
            x[n] = static_cast<int16_t>(std::clamp(std::lround(noise(rng) * envelope), -32768L, 32767L));
        }
        const auto stream = EncodeAll(*lib_, format(), 0, x);
        ASSERT_EQ(stream.frames, frames);
        const auto decoded = DecodeAll(*lib_, format(), 0, stream.bytes, 1);
        EXPECT_EQ(decoded.frames, frames) << "trial " << trial;
    }
}

// Any bytes at all: the decoder returns 0 or 11, consumes no more than it was
// offered, writes exactly one frame, and never reads beyond the offer (each
// offer lives in a buffer of exactly its size, which the sanitizer build watches).
TEST_P(AudioCoderStream, AnyByteStreamDecodesSafely) {
    std::mt19937 rng(GetParam().sampleRate);
    CodecFormat f{};
    ASSERT_EQ(lib_->openDecoder(format(), 0, &f), CODEC_OK);
    const auto real = EncodeAll(*lib_, format(), 0, Tone(1152 * 6, 523, GetParam().sampleRate, 20000)).bytes;
    for (int i = 0; i < 1500; ++i) {
        const std::size_t offer = rng() % (f.maxCodedBytes + 40u);
        auto buffer = std::make_unique<uint8_t[]>(offer == 0 ? 1 : offer);
        if (i % 3 == 0 && offer <= real.size()) {
            // A real stream cut short or corrupted in a few bits.
            const std::size_t start = rng() % (real.size() - offer + 1);
            std::memcpy(buffer.get(), real.data() + start, offer);
            if (offer > 0) buffer[rng() % offer] ^= static_cast<uint8_t>(1u << (rng() % 8));
        } else {
            for (std::size_t k = 0; k < offer; ++k) buffer[k] = static_cast<uint8_t>(rng());
        }
        std::vector<uint8_t> pcm(f.frameBytes);
        uint16_t in = static_cast<uint16_t>(offer), cap = f.frameBytes;
        const CodecStatus st = lib_->decode(f.handle, 0, buffer.get(), &in, pcm.data(), &cap);
        ASSERT_TRUE(st == CODEC_OK || st == CODEC_ERR_NEED_DATA) << st;
        ASSERT_EQ(cap, f.frameBytes);
        if (st == CODEC_OK)
            ASSERT_LE(in, offer);
        else
            ASSERT_EQ(in, offer);
    }
    lib_->closeDecoder(f.handle);
}

INSTANTIATE_TEST_SUITE_P(AllConfigurations, AudioCoderStream, ::testing::ValuesIn(kLibraries),
                         [](const auto &info) { return std::string(info.param.name); });

// Frames built by hand, decoded by the engine itself.

FrameParams LoudestFrame(const Config &config, uint32_t seed) {
    FrameParams p{};
    std::mt19937 rng(seed);
    for (int sb = 0; sb < kSubbands; ++sb) {
        const int top = config.rows[sb].choices();
        for (int part = 0; part < kParts; ++part) {
            p.allocation[part][sb] = static_cast<uint8_t>(top);
            p.scaleIndex[part][sb] = static_cast<uint8_t>(rng() % 3);
        }
        p.selection[sb] = 0;
        const Quantiser &q = config.rows[sb].quantiser[top - 1];
        for (int b = 0; b < kBlocks; ++b) p.code[b][sb] = static_cast<uint8_t>(rng() % q.levels);
    }
    return p;
}

TEST(AudioCoderDecoder, BeyondFullScaleSaturatesAndNeverWraps) {
    const Config &config = kConfig180;
    FrameParams p{};
    for (int sb = 0; sb < kSubbands; ++sb) {
        for (int part = 0; part < kParts; ++part) {
            p.allocation[part][sb] = 3;
            p.scaleIndex[part][sb] = 0; // the largest scale factor
        }
        p.selection[sb] = 0;
        const Quantiser &q = config.rows[sb].quantiser[2];
        // Alternating extreme codes in the low bands drive the output far beyond full scale.
        for (int b = 0; b < kBlocks; ++b)
            p.code[b][sb] = static_cast<uint8_t>(sb < 4 ? ((b / 2) % 2 == 0 ? q.levels - 1 : 0) : (q.levels - 1) / 2);
    }
    uint8_t bytes[700] = {};
    BitWriter w(bytes, 0, 0);
    WriteFrame(config, p, w);

    auto dec = std::make_unique<DecoderState>();
    InitDecoder(*dec);
    std::vector<uint8_t> pcm(kFrameBytes);
    uint16_t in = 0, out = 0;
    ASSERT_EQ(DecodeFrame(config, *dec, bytes, sizeof bytes, &in, pcm.data(), &out), CODEC_OK);
    EXPECT_EQ(in, (w.bitCount() + 7) / 8);

    // The same frame through the synthesis bank without the 16-bit conversion.
    SynthesisState ref{};
    ResetSynthesis(ref);
    int high = 0, low = 0;
    for (int b = 0; b < kBlocks; ++b) {
        float sub[kSubbands], y[kSubbands];
        for (int sb = 0; sb < kSubbands; ++sb)
            sub[sb] = DequantiseSample(p.code[b][sb], config.rows[sb].quantiser[2]) * ScaleFactors().value[0];
        Synthesise(ref, sub, y);
        for (int j = 0; j < kSubbands; ++j) {
            int16_t got;
            std::memcpy(&got, &pcm[2 * static_cast<std::size_t>(b * kSubbands + j)], 2);
            if (y[j] > 32767.5f) {
                ASSERT_EQ(got, 32767);
                ++high;
            } else if (y[j] < -32768.5f) {
                ASSERT_EQ(got, -32768);
                ++low;
            } else {
                ASSERT_NEAR(got, y[j], 0.51f);
            }
        }
    }
    EXPECT_GT(high, 0);
    EXPECT_GT(low, 0);
    EXPECT_EQ(dec->clipped, static_cast<uint32_t>(high + low));
}

// The largest frame the format allows, starting 4 bits into a byte that the
// previous frame handed back, needs maxCodedBytes + 1 bytes; the libraries
// admit that one byte more.
TEST(AudioCoderDecoder, AMaximalFrameStartingInsideAByteDecodes) {
    const Config &config = kConfig250f11;
    FrameParams small{};
    small.allocation[0][31] = 1; // 168 + 2 + 6 + 4 * 5 = 196 bits: ends halfway into byte 24
    small.scaleIndex[0][31] = 20;
    const FrameParams big = LoudestFrame(config, 5);
    std::vector<uint8_t> stream(800, 0);
    BitWriter w(stream.data(), 0, 0);
    WriteFrame(config, small, w);
    ASSERT_EQ(w.bitCount(), 196u);
    WriteFrame(config, big, w);
    ASSERT_EQ(w.bitCount(), 196u + static_cast<std::size_t>(MaxFrameBits(config)));
    stream.resize((w.bitCount() + 7) / 8);

    CodecBinding lib(CodecLibraryPath("VT250f11"));
    CodecFormat f{};
    ASSERT_EQ(lib.openDecoder(CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ, 0, &f), CODEC_OK);
    ASSERT_EQ(f.maxCodedBytes, 755);
    std::vector<uint8_t> pcm(f.frameBytes);
    uint16_t in = static_cast<uint16_t>(stream.size()), cap = f.frameBytes;
    ASSERT_EQ(lib.decode(f.handle, 0, stream.data(), &in, pcm.data(), &cap), CODEC_OK);
    ASSERT_EQ(in, 24) << "byte 24 is handed back";

    const std::vector<uint8_t> rest(stream.begin() + 24, stream.end());
    ASSERT_EQ(rest.size(), 756u);
    std::vector<uint8_t> exact(rest.begin(), rest.begin() + 755);
    in = 755;
    EXPECT_EQ(lib.decode(f.handle, 0, exact.data(), &in, pcm.data(), &cap), CODEC_ERR_NEED_DATA);
    in = 756;
    ASSERT_EQ(lib.decode(f.handle, 0, rest.data(), &in, pcm.data(), &cap), CODEC_OK);
    EXPECT_EQ(in, 755) << "the last byte still holds 4 unread bits";
    lib.closeDecoder(f.handle);

    // The engine alone, given the same frames, agrees sample for sample.
    auto dec = std::make_unique<DecoderState>();
    InitDecoder(*dec);
    std::vector<uint8_t> ref(kFrameBytes);
    uint16_t used = 0, produced = 0;
    ASSERT_EQ(
        DecodeFrame(config, *dec, stream.data(), static_cast<uint16_t>(stream.size()), &used, ref.data(), &produced),
        CODEC_OK);
    ASSERT_EQ(DecodeFrame(config, *dec, stream.data() + 24, 756, &used, ref.data(), &produced), CODEC_OK);
    EXPECT_EQ(ref, pcm);
}

TEST_P(AudioCoderStream, NoFrameCarriesALoneBurstOrAGap) {
    // Bursts of noise in silence: whatever the thresholds allocate, the smoothing
    // leaves no part allocated alone between unallocated ones, and no gaps.
    std::mt19937 rng(5);
    std::vector<int16_t> x(1152 * 24, 0);
    for (int burst = 0; burst < 40; ++burst) {
        const std::size_t at = rng() % (x.size() - 600);
        const std::size_t len = 50 + rng() % 500;
        std::normal_distribution<double> noise(0, 2000 + rng() % 12000);
        for (std::size_t n = at; n < at + len; ++n)
            x[n] = static_cast<int16_t>(std::clamp(std::lround(noise(rng)), -32768L, 32767L));
    }
    const auto stream = EncodeAll(*lib_, format(), 0, x);
    BitReader reader(stream.bytes.data(), stream.bytes.size(), 8);
    const Config &config = *GetParam().config;
    uint8_t history[kSubbands] = {};
    int allocatedParts = 0;
    for (int frame = 0; frame < stream.frames; ++frame) {
        FrameParams p{};
        ReadFrame(config, reader, p);
        ASSERT_FALSE(reader.overrun());
        for (int sb = 0; sb < kSubbands; ++sb) {
            const bool a0 = p.allocation[0][sb] != 0, a1 = p.allocation[1][sb] != 0, a2 = p.allocation[2][sb] != 0;
            EXPECT_FALSE(!a0 && a1 && !a2) << "frame " << frame << " subband " << sb << ": lone part 1";
            EXPECT_FALSE(a0 && !a1 && a2) << "frame " << frame << " subband " << sb << ": gap in part 1";
            EXPECT_FALSE(history[sb] == 0 && a0 && !a1) << "frame " << frame << " subband " << sb << ": lone onset";
            history[sb] = p.allocation[2][sb];
            allocatedParts += a0 + a1 + a2;
        }
    }
    EXPECT_GT(allocatedParts, 0) << "the bursts must be loud enough to be coded";
}

} // namespace
} // namespace vntr::audiocoder
