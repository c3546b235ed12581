// The objective measures: alignment by cross-correlation, SNR, segmental
// SNR and log-spectral distance, on signals whose answers are known.
#include "eval_support.hpp"

#include "core/quality.hpp"
#include "core/wave_samples.hpp"
#include "core/wavefile.hpp"

#include <cmath>
#include <random>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

std::vector<float> Voiced(std::size_t n, int rate) {
    // A buzzy vowel-like tone with a slowly varying level.
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double level = 3000 + 2000 * std::sin(2 * M_PI * 1.3 * t);
        double v = 0;
        for (int h = 1; h <= 12; ++h) v += std::sin(2 * M_PI * 140 * h * t + h) / h;
        x[i] = static_cast<float>(level * v);
    }
    return x;
}

std::vector<float> Delayed(const std::vector<float> &x, std::size_t delay) {
    std::vector<float> y(delay, 0.0f);
    y.insert(y.end(), x.begin(), x.end());
    return y;
}

TEST(QualityTest, IdenticalSignalsAreAlignedAtZeroWithNoSpectralDistance) {
    const auto x = Voiced(8000, 8000);
    const Quality q = CompareSignals(x, x, 8000);
    ASSERT_TRUE(q.valid);
    EXPECT_EQ(q.delaySamples, 0);
    EXPECT_GT(q.snrDb, 100.0);
    EXPECT_DOUBLE_EQ(q.segmentalSnrDb, 35.0); // every frame at the upper clamp
    EXPECT_NEAR(q.logSpectralDistanceDb, 0.0, 1e-9);
}

TEST(QualityTest, DelayIsFoundByCrossCorrelation) {
    const auto x = Voiced(16000, 8000);
    for (const std::size_t delay : {1u, 37u, 481u, 1999u}) {
        const Quality q = CompareSignals(x, Delayed(x, delay), 8000);
        EXPECT_EQ(q.delaySamples, static_cast<int>(delay));
        EXPECT_GT(q.snrDb, 100.0) << delay;
        EXPECT_EQ(q.comparedSamples, x.size());
    }
}

TEST(QualityTest, SnrOfAddedNoiseMatchesItsLevel) {
    const auto x = Voiced(32000, 8000);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    double signal = 0;
    for (const float v : x) signal += static_cast<double>(v) * v;
    const double rms = std::sqrt(signal / x.size());
    for (const double wanted : {0.0, 10.0, 20.0, 30.0}) {
        const double sigma = rms / std::pow(10.0, wanted / 20.0);
        auto y = x;
        for (auto &v : y) v += static_cast<float>(sigma) * noise(random);
        const Quality q = CompareSignals(x, y, 8000);
        EXPECT_NEAR(q.snrDb, wanted, 0.3) << wanted;
        EXPECT_NEAR(q.segmentalSnrDb, wanted, 3.0) << wanted; // the level varies from frame to frame
        EXPECT_EQ(q.delaySamples, 0);
    }
}

TEST(QualityTest, SpectralDistanceGrowsWithSpectralChange) {
    // White noise keeps every frequency bin far above the spectral floor.
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0.0f, 3000.0f);
    std::vector<float> x(16000);
    for (auto &v : x) v = noise(random);
    auto halved = x;
    for (auto &v : halved) v *= 0.5f; // -6.02 dB at every frequency
    const Quality scaled = CompareSignals(x, halved, 8000);
    EXPECT_NEAR(scaled.logSpectralDistanceDb, 20 * std::log10(2.0), 0.05);
    // A first difference tilts the spectrum: larger distance than a gain change.
    std::vector<float> tilted(x.size());
    for (std::size_t i = 1; i < x.size(); ++i) tilted[i] = x[i] - 0.9f * x[i - 1];
    EXPECT_GT(CompareSignals(x, tilted, 8000).logSpectralDistanceDb, scaled.logSpectralDistanceDb);
}

// A sustained vowel: harmonics of 125 Hz under three formant resonances,
// and above `bandEdge` Hz a faint band `bandDb` below the strongest harmonic
// (nothing there at all when bandDb is infinite).
std::vector<float> Vowel(std::size_t n, double firstFormant, double bandEdge, double bandDb) {
    const int rate = 8000;
    const double formants[3][2] = {{firstFormant, 80}, {1500, 100}, {2500, 120}};
    auto envelope = [&](double f) {
        double gain = 1;
        for (const auto &[centre, width] : formants) {
            gain *= centre * centre / std::sqrt(std::pow(centre * centre - f * f, 2) + std::pow(width * f, 2));
        }
        return gain;
    };
    double strongest = 0;
    for (double f = 125; f < bandEdge; f += 125) strongest = std::max(strongest, envelope(f));
    std::vector<float> x(n);
    for (double f = 125; f < rate / 2; f += 125) {
        const double amplitude = f < bandEdge ? envelope(f) : strongest * std::pow(10.0, -bandDb / 20.0);
        for (std::size_t i = 0; i < n; ++i) {
            x[i] += static_cast<float>(8000 / strongest * amplitude * std::sin(2 * M_PI * f * i / rate + f / 125));
        }
    }
    return x;
}

TEST(QualityTest, FrameDistanceFloorsBothSpectraFiftyDecibelsBelowTheReferencePeak) {
    // Bin 1 at -30 dB against nothing: it counts from the floor (-50 dB), 20 dB.
    const std::vector<double> reference{1.0, 1e-3};
    EXPECT_NEAR(FrameSpectralDistance(reference, std::vector<double>{1.0, 0.0}), std::sqrt(20.0 * 20.0 / 2), 1e-9);
    // Below the floor, any two levels are the same.
    EXPECT_NEAR(FrameSpectralDistance(std::vector<double>{1.0, 1e-6}, std::vector<double>{1.0, 1e-9}), 0.0, 1e-12);
    // The floor follows the reference, not an absolute level: a quiet frame
    // is judged like a loud one.
    EXPECT_NEAR(FrameSpectralDistance(std::vector<double>{1e-4, 1e-7}, std::vector<double>{1e-4, 0.0}),
                FrameSpectralDistance(reference, std::vector<double>{1.0, 0.0}), 1e-9);
    // A decoded bin far above a silent reference bin counts in full above the floor.
    EXPECT_NEAR(FrameSpectralDistance(std::vector<double>{1.0, 0.0}, std::vector<double>{1.0, 1e-2}),
                std::sqrt(30.0 * 30.0 / 2), 1e-9);
    // A silent reference frame has no level to compare with.
    EXPECT_DOUBLE_EQ(FrameSpectralDistance(std::vector<double>{0.0, 0.0}, std::vector<double>{0.0, 1.0}), 0.0);
}

TEST(QualityTest, AnEmptyHighBandCostsLittleAndAMisplacedFormantMuch) {
    const std::size_t n = 16000;
    const auto vowel = Vowel(n, 500, 3000, 60); // the band above 3 kHz 60 dB down
    const auto bandLeftEmpty = Vowel(n, 500, 3000, HUGE_VAL);
    const auto formantMoved = Vowel(n, 800, 3000, 60);
    const Quality empty = CompareSignals(vowel, bandLeftEmpty, 8000);
    const Quality moved = CompareSignals(vowel, formantMoved, 8000);
    ASSERT_TRUE(empty.valid && moved.valid);
    EXPECT_LT(empty.logSpectralDistanceDb, 1.0);
    EXPECT_GT(moved.logSpectralDistanceDb, 4.0);
    // A high band that is there but 20 dB too weak is audible, and counts.
    const Quality weakBand = CompareSignals(Vowel(n, 500, 3000, 20), Vowel(n, 500, 3000, 40), 8000);
    EXPECT_GT(weakBand.logSpectralDistanceDb, 4.0);
}

TEST(QualityTest, SilentFramesDoNotCountInSegmentalMeasures) {
    auto x = Voiced(16000, 8000);
    std::fill(x.begin(), x.begin() + 8000, 0.0f); // the first second is silence
    auto y = x;
    for (std::size_t i = 0; i < 8000; ++i) y[i] = (i % 2 == 0) ? 1.0f : -1.0f; // a whisper of noise there
    const Quality q = CompareSignals(x, y, 8000);
    EXPECT_DOUBLE_EQ(q.segmentalSnrDb, 35.0);
    // Only the spectral frame that straddles the onset sees the whisper.
    EXPECT_LT(q.logSpectralDistanceDb, 0.01);
}

TEST(QualityTest, BlockedCrossCorrelationIsTheDirectSum) {
    // Long enough for several blocks of the transform, with lags that reach
    // across block boundaries and past the end of the shorter signal.
    std::mt19937 random(11);
    std::uniform_real_distribution<float> sample(-1000.0f, 1000.0f);
    std::vector<float> x(30011);
    std::vector<float> y(29000);
    for (auto &v : x) v = sample(random);
    for (auto &v : y) v = sample(random);
    const int maxLag = 300;
    SpanSource xs(x);
    SpanSource ys(y);
    const std::vector<double> r = CrossCorrelation(xs, ys, maxLag);
    ASSERT_EQ(r.size(), static_cast<std::size_t>(maxLag) + 1);
    for (const int lag : {0, 1, 7, 150, 299, 300}) {
        double direct = 0;
        for (std::size_t k = 0; k + static_cast<std::size_t>(lag) < y.size() && k < x.size(); ++k) {
            direct += static_cast<double>(x[k]) * y[k + static_cast<std::size_t>(lag)];
        }
        EXPECT_NEAR(r[static_cast<std::size_t>(lag)], direct, 10.0) << lag; // of sums near 1e7
    }
}

TEST(QualityTest, LongSignalsAreAlignedAcrossBlocks) {
    // Over a minute: the lag is found whatever block the signal falls in.
    const auto x = Voiced(8000 * 70, 8000);
    for (const std::size_t delay : {0u, 1999u}) {
        const Quality q = CompareSignals(x, Delayed(x, delay), 8000);
        EXPECT_EQ(q.delaySamples, static_cast<int>(delay));
        EXPECT_EQ(q.comparedSamples, x.size());
        EXPECT_GT(q.snrDb, 100.0);
    }
}

TEST(QualityTest, FilesAreMeasuredAsTheSamplesInMemory) {
    // The file path reads a block at a time; every figure must be the one of
    // the same samples compared in memory, to the last bit.
    TempDir dir;
    const auto x = Voiced(8000 * 3 + 77, 8000);
    std::vector<int16_t> a(x.size());
    std::vector<int16_t> b(x.size() + 123);
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.0f, 300.0f);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<int16_t>(x[i]);
    for (std::size_t i = 0; i < b.size(); ++i) {
        const float v = i >= 123 ? 0.8f * x[i - 123] + noise(random) : 0.0f;
        b[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
    WaveSpec w;
    w.data = Pcm16(a);
    WriteBytes(dir / "a.wav", MakeWave(w));
    w.data = Pcm16(b);
    WriteBytes(dir / "b.wav", MakeWave(w));
    const Quality fromFiles = MeasureQuality(dir / "a.wav", dir / "b.wav");
    const std::vector<float> af(a.begin(), a.end());
    const std::vector<float> bf(b.begin(), b.end());
    const Quality inMemory = CompareSignals(af, bf, 8000);
    ASSERT_TRUE(fromFiles.valid);
    EXPECT_EQ(fromFiles.delaySamples, 123);
    EXPECT_EQ(fromFiles.delaySamples, inMemory.delaySamples);
    EXPECT_EQ(fromFiles.comparedSamples, inMemory.comparedSamples);
    EXPECT_EQ(fromFiles.snrDb, inMemory.snrDb);
    EXPECT_EQ(fromFiles.segmentalSnrDb, inMemory.segmentalSnrDb);
    EXPECT_EQ(fromFiles.logSpectralDistanceDb, inMemory.logSpectralDistanceDb);
    EXPECT_EQ(fromFiles.gain, inMemory.gain);
    EXPECT_NEAR(fromFiles.gain, 1.25, 0.05); // the scale that takes the decoded signal back to the input
}

TEST(QualityTest, KnownDelayAndLevelMatching) {
    const auto x = Voiced(16000, 8000);
    std::vector<float> y = Delayed(x, 40);
    for (auto &v : y) v *= 0.5f;
    CompareOptions fixed;
    fixed.delay = 40;
    const Quality plain = CompareSignals(x, y, 8000, fixed);
    EXPECT_EQ(plain.delaySamples, 40);
    EXPECT_NEAR(plain.snrDb, 20 * std::log10(2.0), 0.01); // the error is half the signal
    EXPECT_NEAR(plain.gain, 2.0, 1e-6);
    fixed.matchLevel = true;
    const Quality levelled = CompareSignals(x, y, 8000, fixed);
    EXPECT_GT(levelled.snrDb, 100.0);
    EXPECT_NEAR(levelled.logSpectralDistanceDb, 0.0, 1e-3);
    // A delay past the decoded signal leaves nothing to compare.
    fixed.delay = static_cast<int>(y.size());
    EXPECT_FALSE(CompareSignals(x, y, 8000, fixed).valid);
}

TEST(QualityTest, EmptyOrUnreadableInputsAreInvalid) {
    EXPECT_FALSE(CompareSignals({}, std::vector<float>{1, 2}, 8000).valid);
    TempDir dir;
    WriteBytes(dir / "a.wav", SpeechLikeWave(8000, 800));
    WriteBytes(dir / "b.wav", SpeechLikeWave(16000, 800));
    EXPECT_FALSE(MeasureQuality(dir / "a.wav", dir / "missing.wav").valid);
    EXPECT_FALSE(MeasureQuality(dir / "a.wav", dir / "b.wav").valid); // rates differ
    EXPECT_TRUE(MeasureQuality(dir / "a.wav", dir / "a.wav").valid);
}

TEST(QualityTest, EightBitAndStereoFilesAreReadOnTheSixteenBitScale) {
    TempDir dir;
    WaveSpec w;
    w.bits = 8;
    w.blockAlign = 2;
    w.channels = 2;
    w.data = {128 + 10, 128 + 30, 0, 255};
    WriteBytes(dir / "s.wav", MakeWave(w));
    std::vector<float> samples;
    int rate = 0;
    ASSERT_TRUE(ReadWaveSamples(dir / "s.wav", samples, rate));
    EXPECT_EQ(rate, 8000);
    EXPECT_EQ(samples, (std::vector<float>{20 * 256, (-128 + 127) * 128.0f}));
}

TEST(QualityTest, TheSampleWidthIsTheOneTheFormatCheckGives) {
    // The bits-per-sample field says 8 but the block align lays out 16-bit
    // samples: the check takes them as 16 bit, the codecs code 16-bit
    // samples, and the measures must read the same samples.
    TempDir dir;
    const auto x = Voiced(8000, 8000);
    std::vector<int16_t> pcm(x.begin(), x.end());
    WaveSpec w;
    w.data = Pcm16(pcm);
    WriteBytes(dir / "plain.wav", MakeWave(w));
    w.bits = 8;
    WriteBytes(dir / "bits8.wav", MakeWave(w));
    w.bits = 16;
    w.fmtSize = 14; // no bits-per-sample field at all
    WriteBytes(dir / "short_fmt.wav", MakeWave(w));
    for (const char *name : {"bits8.wav", "short_fmt.wav"}) {
        SCOPED_TRACE(name);
        RecordingFrontend ui;
        OriginalFile original;
        ASSERT_TRUE(OpenOriginal(ui, dir / name, original));
        EXPECT_EQ(original.formatFlags & 0x3000u, 0x2000u);
        std::vector<float> samples;
        int rate = 0;
        ASSERT_TRUE(ReadWaveSamples(dir / name, samples, rate));
        EXPECT_EQ(samples, std::vector<float>(pcm.begin(), pcm.end()));
        const Quality q = MeasureQuality(dir / "plain.wav", dir / name);
        ASSERT_TRUE(q.valid);
        EXPECT_EQ(q.delaySamples, 0);
        EXPECT_GT(q.snrDb, 100.0);
        EXPECT_NEAR(q.logSpectralDistanceDb, 0.0, 1e-6);
    }
    // And the other way: bits 16 over a block align of 1 are 8-bit samples.
    w = WaveSpec{};
    w.blockAlign = 1;
    w.data = {128 + 1, 128 - 2, 128 + 3, 128};
    WriteBytes(dir / "align1.wav", MakeWave(w));
    RecordingFrontend ui;
    OriginalFile original;
    ASSERT_TRUE(OpenOriginal(ui, dir / "align1.wav", original));
    EXPECT_EQ(original.formatFlags & 0x3000u, 0x1000u);
    std::vector<float> samples;
    int rate = 0;
    ASSERT_TRUE(ReadWaveSamples(dir / "align1.wav", samples, rate));
    EXPECT_EQ(samples, (std::vector<float>{256, -512, 768, 0}));
    // A width the check refuses is refused by the reader too.
    w.blockAlign = 3;
    WriteBytes(dir / "align3.wav", MakeWave(w));
    EXPECT_FALSE(OpenOriginal(ui, dir / "align3.wav", original));
    EXPECT_FALSE(ReadWaveSamples(dir / "align3.wav", samples, rate));
    EXPECT_EQ(SampleWidth(2, 3), 1u); // stereo, block align 3: 8 bit, as the check reads it
    EXPECT_EQ(SampleWidth(0, 2), 0u);
}

} // namespace

TEST(QualityTest, AReusedWorkspaceGivesTheFreshFiguresAndPlansOnlyPerTransformSize) {
    // A corpus run compares signals of every length with one workspace: the
    // figures must be those of a comparison on its own, and the plans must
    // not pile up with the lengths (they grew the heap with each original).
    CompareWorkspace workspace;
    std::mt19937 random(5);
    std::normal_distribution<float> noise(0.0f, 300.0f);
    std::size_t plansAfterFirstRound = 0;
    for (int round = 0; round < 2; ++round) {
        for (const int rate : {8000, 11025, 22050}) {
            for (const std::size_t n : {1000u, 4801u, 17000u, 23456u, 40001u}) {
                const auto x = Voiced(n, rate);
                auto y = Delayed(x, 13 + n % 97);
                for (auto &v : y) v += noise(random);
                SpanSource xa(x);
                SpanSource ya(y);
                const Quality fresh = CompareSources(xa, ya, rate);
                SpanSource xb(x);
                SpanSource yb(y);
                const Quality reused = CompareSources(xb, yb, rate, {}, workspace);
                ASSERT_TRUE(fresh.valid) << rate << " " << n;
                EXPECT_EQ(reused.delaySamples, fresh.delaySamples) << rate << " " << n;
                EXPECT_EQ(reused.comparedSamples, fresh.comparedSamples);
                // Bit for bit, not merely close: the reports must not change.
                EXPECT_EQ(reused.snrDb, fresh.snrDb) << rate << " " << n;
                EXPECT_EQ(reused.segmentalSnrDb, fresh.segmentalSnrDb);
                EXPECT_EQ(reused.logSpectralDistanceDb, fresh.logSpectralDistanceDb);
                EXPECT_EQ(reused.gain, fresh.gain);
            }
        }
        if (round == 0) plansAfterFirstRound = workspace.PlanCount();
    }
    EXPECT_GT(plansAfterFirstRound, 0u);
    // One correlator (three plans) and one frame size per rate at most.
    EXPECT_LE(plansAfterFirstRound, 3u * 3u + 3u);
    EXPECT_EQ(workspace.PlanCount(), plansAfterFirstRound); // the second round planned nothing
}
