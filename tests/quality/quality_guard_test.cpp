// Quality guards: each codec of ours codes a pinned real recording through
// its library, and the decoded speech is scored against the input by the
// evaluator's own measures, the ViSQOL score (MOS-LQO) and the log-spectral
// distance, each held to a stored baseline within a small margin.
//
// The reference vectors hold every bit of the streams; these guards hold
// what the bits are for.  A change that alters quality makes new vectors
// that look like any other intended change, and is caught here.  The band is
// two-sided: a score that falls is a regression, and a score that rises is
// a change of the codec's character that has to be stated by updating the
// baseline.  Both measures compare with the input, and the decoder's
// perceptual choices cost against it: on hts1a, VT120's post-filter costs
// 0.05 MOS and 0.2 dB LSD, and fading a concealed frame out costs 0.08 MOS
// against repeating it at full level, yet both are there for the listener
// (the post-filter deepens the valleys between formants where coding noise
// is heard; a fade keeps a long loss from buzzing on).  Leaving either out
// therefore raises the scores, and has to fail.
//
// The margins are far wider than the differences between builds (g++ and
// clang, -O3 and the -O1 sanitizer build give the same figures to the fourth
// decimal) and well inside what each of these faults moves: the post-filter
// removed (+0.048 MOS, -0.21 dB), VT120's weighting factor 0.8 for 0.9
// (+0.051 MOS, +0.42 dB), concealment that never fades (+0.079 MOS, -0.13 dB
// on the lossy stream).  Every run prints the figures it measured beside the
// baseline.
#include "codec_stream.hpp"
#include "signals.hpp"
#include "test_paths.hpp"

#include "core/quality.hpp"
#include "core/visqol.hpp"

#include <gtest/gtest.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace vntr::test {
namespace {

// The recording every guard codes: hts1a from codec2-examples, 3 s of a
// man's speech with pauses between its phrases (8000 Hz).
constexpr const char *kRecording = "hts1a";

// How far a figure may move from its baseline either way: the ViSQOL score,
// and the log-spectral distance in dB.
constexpr double kMosMargin = 0.01;
constexpr double kLsdMarginDb = 0.05;

constexpr uint32_t kPcm16Mono = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_16BIT;

struct Baseline {
    const char *name;    // the guard's name
    const char *library; // the library's short name
    uint32_t rateFlag;   // CODEC_FMT_8KHZ, _11KHZ or _22KHZ
    int sampleRate;
    uint32_t options;
    double mos;   // the ViSQOL score on the recording
    double lsdDb; // the log-spectral distance on the recording
};

void PrintTo(const Baseline &b, std::ostream *out) {
    *out << b.name;
}

// Measured on hts1a (every run prints its figures beside these).
const Baseline kBaselines[] = {
    {"VT4864v6_4800", "VT4864v6", CODEC_FMT_8KHZ, 8000, CODEC_OPT_4800, 3.9716, 9.0452},
    {"VT4864v6_6400", "VT4864v6", CODEC_FMT_8KHZ, 8000, CODEC_OPT_6400, 4.1409, 8.3271},
    {"VT120", "VT120", CODEC_FMT_8KHZ, 8000, 0, 4.3416, 6.5466},
    {"VT48", "VT48", CODEC_FMT_8KHZ, 8000, 0, 4.0223, 8.0146},
    {"VT15", "VT15", CODEC_FMT_8KHZ, 8000, 0, 3.9929, 8.8624},
    {"VT180", "VT180", CODEC_FMT_8KHZ, 8000, 0, 4.6985, 5.4256},
    {"VT250f11", "VT250f11", CODEC_FMT_11KHZ, 11025, 0, 4.8587, 3.0708},
    {"VT500f22", "VT500f22", CODEC_FMT_22KHZ, 22050, 0, 4.8290, 2.6182},
};

// VT120 over a stream that loses 160 ms (20 frames) of every 480 ms from the
// 30th frame on: the type bits of the frame before a lost one say that no
// parameters follow (see codecs/vt120/decoder.hpp), so the decoder conceals
// it, fading the last pitch period out over the whole burst.
constexpr std::size_t kVt120FrameBytes = 12;
const Baseline kVt120Lossy = {"VT120_lost_frames", "VT120", CODEC_FMT_8KHZ, 8000, 0, 3.0561, 10.9401};

// The 8000 Hz recording at `rate` (libsoxr, high quality, undithered); itself
// at 8000 Hz.
std::vector<int16_t> AtRate(const std::vector<int16_t> &x, int rate) {
    if (rate == 8000) return x;
    std::vector<int16_t> out(x.size() * static_cast<std::size_t>(rate) / 8000 + 64);
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER; // libsoxr dithers 16-bit output by default, differently on every run
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    std::size_t used = 0, made = 0;
    soxr_error_t error = nullptr;
    {
        const std::lock_guard<std::mutex> hold(evaluator::ResamplerLock());
        error = soxr_oneshot(8000, rate, 1, x.data(), x.size(), &used, out.data(), out.size(), &made, &io, &quality,
                             nullptr);
    }
    if (error != nullptr) return {};
    out.resize(made);
    return out;
}

std::vector<float> ToFloat(const std::vector<int16_t> &x) {
    return {x.begin(), x.end()};
}

struct Figures {
    double mos = 0;
    double lsdDb = 0;
};

Figures Score(const std::vector<int16_t> &input, const std::vector<int16_t> &decoded, int rate) {
    const auto reference = ToFloat(input), coded = ToFloat(decoded);
    const evaluator::VisqolScore visqol = evaluator::ScoreVisqol(reference, coded, rate);
    EXPECT_TRUE(visqol.valid) << visqol.message;
    const evaluator::Quality quality = evaluator::CompareSignals(reference, coded, rate);
    EXPECT_TRUE(quality.valid);
    return {visqol.mos, quality.logSpectralDistanceDb};
}

// Frames of `frameBytes` bytes from `first` on for `count` frames are lost:
// the frame before each carries the type bits 1 (no parameters follow).
void LoseFrames(std::vector<uint8_t> &stream, std::size_t frameBytes, std::size_t first, std::size_t count) {
    for (std::size_t f = first - 1; f + 1 < first + count; ++f) {
        uint8_t &typeBits = stream[f * frameBytes];
        typeBits = static_cast<uint8_t>((typeBits & ~31u) | 1u);
    }
}

class QualityGuard : public ::testing::Test {
protected:
    void SetUp() override {
        if (SpeechRecording(kRecording).empty()) GTEST_SKIP() << "codec2-examples not installed";
        speech_ = ReadRaw(SpeechRecording(kRecording));
        ASSERT_FALSE(speech_.empty());
    }

    bool Built(const Baseline &b) {
        const auto libs = BuiltCodecLibraries();
        return std::find(libs.begin(), libs.end(), b.library) != libs.end();
    }

    // Codes the recording, optionally damages the stream, decodes and scores.
    template <class Damage>
    Figures Run(const Baseline &b, Damage damage) {
        CodecBinding lib(CodecLibraryPath(b.library));
        const uint32_t format = kPcm16Mono | b.rateFlag;
        const auto input = AtRate(speech_, b.sampleRate);
        EncodedStream coded = EncodeAll(lib, format, b.options, input);
        damage(coded.bytes);
        const DecodedStream decoded = DecodeAll(lib, format, b.options, coded.bytes);
        const Figures f = Score(input, decoded.pcm, b.sampleRate);
        std::printf("%s: MOS %.4f, LSD %.4f dB (baseline %.4f, %.4f)\n", b.name, f.mos, f.lsdDb, b.mos, b.lsdDb);
        return f;
    }

    void Guard(const Baseline &b, Figures f) {
        EXPECT_GE(f.mos, b.mos - kMosMargin) << b.name << ": the ViSQOL score fell from " << b.mos;
        EXPECT_LE(f.lsdDb, b.lsdDb + kLsdMarginDb) << b.name << ": the log-spectral distance rose from " << b.lsdDb;
        EXPECT_LE(f.mos, b.mos + kMosMargin)
            << b.name << ": the ViSQOL score rose from " << b.mos << "; if the change is meant, update the baseline";
        EXPECT_GE(f.lsdDb, b.lsdDb - kLsdMarginDb) << b.name << ": the log-spectral distance fell from " << b.lsdDb
                                                   << "; if the change is meant, update the baseline";
    }

    std::vector<int16_t> speech_;
};

class CodecGuard : public QualityGuard, public ::testing::WithParamInterface<Baseline> {};

TEST_P(CodecGuard, KeepsItsScoreOnRealSpeech) {
    const Baseline &b = GetParam();
    if (!Built(b)) GTEST_SKIP() << b.library << " not built";
    Guard(b, Run(b, [](std::vector<uint8_t> &) {}));
}

INSTANTIATE_TEST_SUITE_P(Ours, CodecGuard, ::testing::ValuesIn(kBaselines),
                         [](const ::testing::TestParamInfo<Baseline> &param) { return std::string(param.param.name); });

TEST_F(QualityGuard, Vt120ConcealsLostFramesByFading) {
    if (!Built(kVt120Lossy)) GTEST_SKIP() << "VT120 not built";
    const Figures f = Run(kVt120Lossy, [](std::vector<uint8_t> &stream) {
        const std::size_t frames = stream.size() / kVt120FrameBytes;
        for (std::size_t first = 30; first + 20 < frames; first += 60) LoseFrames(stream, kVt120FrameBytes, first, 20);
    });
    Guard(kVt120Lossy, f);
}

} // namespace
} // namespace vntr::test
