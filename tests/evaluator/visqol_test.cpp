// The ViSQOL score: its stages on signals whose answer is known, its
// behaviour on real speech, and agreement with the reference implementation
// (google/visqol, speech mode, exponential mapping) on coded recordings.
#include "eval_support.hpp"

#include "codec_stream.hpp"
#include "core/visqol.hpp"
#include "core/visqol_parts.hpp"
#include "test_paths.hpp"

#include <cmath>
#include <cstdlib>
#include <numeric>
#include <random>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

std::vector<float> RawRecording(const std::string &name) {
    const std::vector<uint8_t> bytes = ReadBytes(SpeechRecording(name));
    std::vector<float> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return samples;
}

std::vector<float> WithNoise(const std::vector<float> &x, double rms, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, rms);
    std::vector<float> y(x);
    for (float &v : y) v = static_cast<float>(std::clamp(v + noise(rng), -32768.0, 32767.0));
    return y;
}

class VisqolSpeech : public ::testing::Test {
protected:
    void SetUp() override {
        if (SpeechRecording("hts1a").empty()) GTEST_SKIP() << "codec2-examples not installed";
        speech = RawRecording("hts1a");
    }
    std::vector<float> speech; // 8 kHz
};

} // namespace

TEST(VisqolStages, MappingRisesWithSimilarityAndStaysOnTheScale) {
    using visqol::NsimToMos;
    EXPECT_NEAR(NsimToMos(1.0), 5.0, 1e-6);
    EXPECT_EQ(NsimToMos(0.0), 1.0);
    double last = 0;
    for (double nsim = 0.5; nsim <= 1.0; nsim += 0.05) {
        const double mos = NsimToMos(nsim);
        EXPECT_GE(mos, last);
        EXPECT_GE(mos, 1.0);
        EXPECT_LE(mos, 5.0);
        last = mos;
    }
    // A point of the fit: a + exp(b (x - x0)), scaled.
    EXPECT_NEAR(NsimToMos(0.8), (-262.847869 + std::exp(0.0154302525 * (0.8 + 361.063949))) * 1.245063, 1e-5);
}

TEST(VisqolStages, TheEnvelopeCorrelationFindsAShiftEitherWay) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    std::vector<double> x(6000);
    // Bursts, so that the envelope has a shape to correlate.
    for (std::size_t i = 0; i < x.size(); ++i) x[i] = u(rng) * (((i / 500) % 3 == 0) ? 1.0 : 0.05);
    std::vector<double> late(x.size() + 123, 0.0);
    std::copy(x.begin(), x.end(), late.begin() + 123);
    EXPECT_EQ(visqol::BestLag(x, late), -123);
    std::vector<double> early(x.begin() + 77, x.end());
    EXPECT_EQ(visqol::BestLag(x, early), 77);
    std::vector<double> aligned = late;
    EXPECT_EQ(visqol::AlignGlobally(x, aligned), -123);
    ASSERT_EQ(aligned.size(), x.size());
    EXPECT_EQ(aligned, x);
}

TEST(VisqolStages, TheFilterBankSpansFiftyHertzToEightKilohertz) {
    const std::vector<double> centres = visqol::BandCentres();
    ASSERT_EQ(centres.size(), visqol::kBands);
    EXPECT_NEAR(centres.front(), 50.0, 1e-6);
    EXPECT_LT(centres.back(), 8000.0);
    EXPECT_GT(centres.back(), 6000.0);
    EXPECT_TRUE(std::is_sorted(centres.begin(), centres.end()));
    // A tone lights its own band most.
    for (const std::size_t band : {3u, 10u, 17u}) {
        std::vector<double> tone(8000);
        for (std::size_t i = 0; i < tone.size(); ++i) tone[i] = 0.3 * std::sin(2 * M_PI * centres[band] * i / 16000.0);
        const visqol::Spectrogram s = visqol::BuildSpectrogram(tone);
        ASSERT_EQ(s.frames, 1 + (8000 - visqol::kWindow) / visqol::kHop);
        std::size_t loudest = 0;
        for (std::size_t b = 0; b < visqol::kBands; ++b) {
            if (s.At(b, 10) > s.At(loudest, 10)) loudest = b;
        }
        EXPECT_EQ(loudest, band);
    }
    EXPECT_EQ(visqol::BuildSpectrogram(std::vector<double>(visqol::kWindow, 0.1)).frames, 0u);
}

TEST(VisqolStages, ThePatchSimilarityOfAPatchWithItselfIsOne) {
    std::vector<double> patch(visqol::kBands * 20);
    for (std::size_t i = 0; i < patch.size(); ++i) patch[i] = 20.0 + 15.0 * std::sin(0.37 * i);
    for (const double m : visqol::PatchBandSimilarity(patch, patch, 20)) EXPECT_NEAR(m, 1.0, 1e-12);
    std::vector<double> other(patch);
    for (std::size_t i = 0; i < other.size(); i += 3) other[i] += 10.0;
    for (const double m : visqol::PatchBandSimilarity(patch, other, 20)) EXPECT_LT(m, 0.999);
}

TEST(VisqolStages, SilentPatchesAreNotScored) {
    // A second of silence, a loud second, silence: only the first patch
    // (always kept) and those over the loud stretch, which the activity
    // decision holds for two 20 ms chunks after it ends.
    std::vector<double> x(16000 * 3, 0.0);
    for (std::size_t i = 16000; i < 32000; ++i) x[i] = 0.5 * std::sin(0.05 * i);
    const std::size_t frames = 1 + (x.size() - visqol::kWindow) / visqol::kHop;
    const std::vector<std::size_t> starts = visqol::VoicedPatchStarts(x, frames);
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(starts.front(), 9u);
    for (std::size_t i = 1; i < starts.size(); ++i) {
        const double seconds = static_cast<double>(starts[i]) * visqol::kFrameSeconds;
        EXPECT_GT(seconds, 0.9);
        EXPECT_LT(seconds, 2.2);
    }
    EXPECT_GE(starts.size(), 3u);
    EXPECT_TRUE(visqol::VoicedPatchStarts(std::vector<double>(x.size(), 0.0), frames).empty());
}

TEST_F(VisqolSpeech, IdenticalSignalsGetTheTopScore) {
    const VisqolScore s = ScoreVisqol(speech, speech, 8000);
    ASSERT_TRUE(s.valid) << s.message;
    EXPECT_NEAR(s.nsim, 1.0, 1e-9);
    EXPECT_NEAR(s.mos, 5.0, 1e-6);
    EXPECT_EQ(s.lagSeconds, 0.0);
}

TEST_F(VisqolSpeech, MoreNoiseNeverScoresHigher) {
    double last = 6.0;
    for (const double rms : {30.0, 100.0, 300.0, 1000.0, 3000.0}) {
        const VisqolScore s = ScoreVisqol(speech, WithNoise(speech, rms, 11), 8000);
        ASSERT_TRUE(s.valid) << s.message;
        EXPECT_LE(s.mos, last) << "noise RMS " << rms;
        last = s.mos;
    }
    EXPECT_LT(last, 2.5);
}

TEST_F(VisqolSpeech, ADelayedCopyScoresLikeTheUndelayedOne) {
    const std::vector<float> noisy = WithNoise(speech, 200.0, 5);
    const VisqolScore plain = ScoreVisqol(speech, noisy, 8000);
    for (const std::size_t delay : {1u, 37u, 301u, 2000u}) {
        std::vector<float> late(delay, 0.0f);
        late.insert(late.end(), noisy.begin(), noisy.end());
        const VisqolScore s = ScoreVisqol(speech, late, 8000);
        ASSERT_TRUE(s.valid) << s.message;
        EXPECT_NEAR(s.mos, plain.mos, 0.02) << "delay " << delay;
        EXPECT_NEAR(s.lagSeconds, -static_cast<double>(delay) / 8000.0, 1.5 / 16000.0) << "delay " << delay;
    }
}

// At a known delay (the codec's one alignment) the decoded signal is taken
// from that lag, not searched for: the right lag scores like the search.
TEST_F(VisqolSpeech, AKnownDelayIsUsedAsGiven) {
    const std::vector<float> noisy = WithNoise(speech, 200.0, 5);
    std::vector<float> late(301, 0.0f);
    late.insert(late.end(), noisy.begin(), noisy.end());
    const VisqolScore searched = ScoreVisqol(speech, late, 8000);
    const VisqolScore given = ScoreVisqol(speech, late, 8000, kVisqolStretchSeconds, 301);
    ASSERT_TRUE(given.valid) << given.message;
    EXPECT_NEAR(given.mos, searched.mos, 0.02);
    EXPECT_EQ(given.lagSeconds, -301.0 / 8000.0);
    const VisqolScore unmoved = ScoreVisqol(speech, late, 8000, kVisqolStretchSeconds, 0);
    ASSERT_TRUE(unmoved.valid) << unmoved.message;
    EXPECT_EQ(unmoved.lagSeconds, 0.0);
    // In stretches, every stretch is read at that delay.
    const VisqolScore stretched = ScoreVisqol(speech, late, 8000, 4.0, 301);
    ASSERT_TRUE(stretched.valid) << stretched.message;
    EXPECT_EQ(stretched.lagSeconds, -301.0 / 8000.0);
    EXPECT_NEAR(stretched.mos, ScoreVisqol(speech, late, 8000, 4.0).mos, 0.02);
    // More than the decoded signal holds leaves nothing to score.
    EXPECT_FALSE(ScoreVisqol(speech, late, 8000, kVisqolStretchSeconds, static_cast<int>(late.size())).valid);
}

TEST_F(VisqolSpeech, AnOriginalShorterThanOnePatchIsNotScored) {
    const std::vector<float> shortOne(speech.begin(), speech.begin() + 5000); // 0.625 s
    const VisqolScore s = ScoreVisqol(shortOne, shortOne, 8000);
    EXPECT_FALSE(s.valid);
    EXPECT_NE(s.message.find("too short to score"), std::string::npos) << s.message;
    const std::vector<float> justEnough(speech.begin(), speech.begin() + 5200); // 0.65 s
    EXPECT_TRUE(ScoreVisqol(justEnough, justEnough, 8000).valid);
    EXPECT_FALSE(ScoreVisqol({}, speech, 8000).valid);
}

TEST_F(VisqolSpeech, ThePatchCurveAveragesToTheMeanSimilarity) {
    const VisqolScore s = ScoreVisqol(speech, WithNoise(speech, 500.0, 3), 8000);
    ASSERT_TRUE(s.valid) << s.message;
    ASSERT_GE(s.patches.size(), 3u);
    double sum = 0;
    double lastStart = -1;
    for (const VisqolPatch &p : s.patches) {
        sum += p.similarity;
        EXPECT_GT(p.referenceStart, lastStart);
        EXPECT_GT(p.referenceEnd, p.referenceStart);
        lastStart = p.referenceStart;
    }
    EXPECT_NEAR(sum / static_cast<double>(s.patches.size()), s.nsim, 1e-12);
    EXPECT_NEAR(visqol::NsimToMos(s.nsim), s.mos, 1e-12);
}

TEST_F(VisqolSpeech, UnrelatedSignalsGetTheBottomScore) {
    const VisqolScore s = ScoreVisqol(speech, WithNoise(std::vector<float>(speech.size(), 0.0f), 3000.0, 1), 8000);
    ASSERT_TRUE(s.valid) << s.message;
    EXPECT_LT(s.mos, 1.5);
}

// A long original is scored in stretches (stretches of 4 s stand in for the
// minute of a real run; each seam may cost the patch it cuts).
TEST_F(VisqolSpeech, ALongOriginalScoredInStretchesScoresLikeAWholeOne) {
    std::vector<float> longer;
    for (int i = 0; i < 4; ++i) longer.insert(longer.end(), speech.begin(), speech.end()); // 12 s
    const std::vector<float> noisy = WithNoise(longer, 300.0, 9);
    std::vector<float> late(150, 0.0f); // a coder's delay, across every seam
    late.insert(late.end(), noisy.begin(), noisy.end());

    const VisqolScore whole = ScoreVisqol(longer, late, 8000, 60.0);
    const VisqolScore parts = ScoreVisqol(longer, late, 8000, 4.0);
    ASSERT_TRUE(whole.valid) << whole.message;
    ASSERT_TRUE(parts.valid) << parts.message;
    EXPECT_NEAR(parts.mos, whole.mos, 0.05);
    EXPECT_NEAR(parts.lagSeconds, -150.0 / 8000.0, 1.5 / 16000.0);

    // The curve runs over the whole original, in order, and averages to the
    // figure.
    ASSERT_GE(parts.patches.size(), 12u);
    double sum = 0;
    double lastStart = -1;
    for (const VisqolPatch &p : parts.patches) {
        sum += p.similarity;
        EXPECT_GT(p.referenceStart, lastStart);
        lastStart = p.referenceStart;
    }
    EXPECT_GT(lastStart, 9.0);
    EXPECT_NEAR(sum / static_cast<double>(parts.patches.size()), parts.nsim, 1e-12);

    // Identical long signals still get the top score.
    const VisqolScore same = ScoreVisqol(longer, longer, 8000, 4.0);
    ASSERT_TRUE(same.valid) << same.message;
    EXPECT_NEAR(same.mos, 5.0, 1e-6);
}

TEST_F(VisqolSpeech, AStretchOfSilenceIsPassedOverAndASilentDecodingIsNamed) {
    std::vector<float> withPause(speech);
    withPause.insert(withPause.end(), 3 * 8000, 0.0f); // a silent stretch of its own
    withPause.insert(withPause.end(), speech.begin(), speech.end());
    const VisqolScore s = ScoreVisqol(withPause, withPause, 8000, 3.0);
    ASSERT_TRUE(s.valid) << s.message;
    EXPECT_NEAR(s.mos, 5.0, 1e-6);

    std::vector<float> goneQuiet(withPause);
    std::fill(goneQuiet.begin() + 6 * 8000, goneQuiet.end(), 0.0f);
    const VisqolScore quiet = ScoreVisqol(withPause, goneQuiet, 8000, 3.0);
    ASSERT_TRUE(quiet.valid);
    EXPECT_EQ(quiet.mos, 1.0);
    EXPECT_NE(quiet.message.find("silent from 6 s"), std::string::npos) << quiet.message;
}
