// The measures frame by frame: the curves agree with the whole-file figures,
// they show where in time a signal was damaged, and the level-matching gain
// looks only at active speech.
#include "eval_support.hpp"

#include "core/frame_quality.hpp"
#include "core/quality.hpp"

#include <cmath>
#include <random>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

std::vector<float> Speech() {
    std::vector<float> x;
    int rate = 0;
    EXPECT_TRUE(ReadWaveSamples("/usr/share/codec2/wav/mmt1.wav", x, rate));
    EXPECT_EQ(rate, 8000);
    return x;
}

// A crude codec: delay, a two-tap smoothing filter and some noise.
std::vector<float> Degraded(const std::vector<float> &x, std::size_t delay, float noiseRms, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, noiseRms);
    std::vector<float> y(delay, 0.0f);
    float previous = 0;
    for (const float v : x) {
        y.push_back(0.6f * v + 0.4f * previous + noise(random));
        previous = v;
    }
    return y;
}

TEST(FrameQualityTest, CurvesAverageToTheWholeFileFigures) {
    const auto x = Speech();
    for (const std::size_t delay : {0u, 83u}) {
        const auto y = Degraded(x, delay, 150.0f, 5);
        const Quality whole = CompareSignals(x, y, 8000);
        ASSERT_TRUE(whole.valid);
        ASSERT_EQ(whole.delaySamples, static_cast<int>(delay));
        const FrameQuality frames = MeasureFrames(x, y, 8000, whole.delaySamples);
        ASSERT_TRUE(frames.valid);
        EXPECT_NEAR(frames.snr.ActiveMean(), whole.segmentalSnrDb, 1e-4);
        EXPECT_NEAR(frames.lsd.ActiveMean(), whole.logSpectralDistanceDb, 1e-4);
        // 20 ms segments; 256-sample spectral frames half overlapped.
        EXPECT_EQ(frames.snr.Size(), x.size() / 160);
        EXPECT_DOUBLE_EQ(frames.snr.stepSeconds, 0.02);
        EXPECT_DOUBLE_EQ(frames.lsd.stepSeconds, 128.0 / 8000);
        EXPECT_EQ(frames.lsd.Size(), (x.size() - 256) / 128 + 1);
    }
}

TEST(FrameQualityTest, CurvesAgreeAtOtherRates) {
    // At 11025 Hz the segments are 220 samples and the spectral frames 256.
    std::mt19937 random(9);
    std::normal_distribution<float> noise(0.0f, 2000.0f);
    std::vector<float> x(22050);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = noise(random) * static_cast<float>(0.2 + std::abs(std::sin(static_cast<double>(i) / 3000)));
    }
    const auto y = Degraded(x, 11, 300.0f, 4);
    const Quality whole = CompareSignals(x, y, 11025);
    const FrameQuality frames = MeasureFrames(x, y, 11025, whole.delaySamples);
    EXPECT_NEAR(frames.snr.ActiveMean(), whole.segmentalSnrDb, 1e-4);
    EXPECT_NEAR(frames.lsd.ActiveMean(), whole.logSpectralDistanceDb, 1e-4);
    EXPECT_DOUBLE_EQ(frames.snr.frameSeconds, 220.0 / 11025);
}

TEST(FrameQualityTest, CurvesShowWhereTheSignalWasDamaged) {
    const auto x = Speech();
    auto y = x;
    std::mt19937 random(1);
    std::normal_distribution<float> noise(0.0f, 4000.0f);
    for (std::size_t i = 8000; i < 9600; ++i) y[i] += noise(random); // 1.0 s to 1.2 s
    const FrameQuality f = MeasureFrames(x, y, 8000, 0);
    std::size_t worst = 0;
    for (std::size_t i = 0; i < f.snr.Size(); ++i) {
        if (f.snr.db[i] < f.snr.db[worst]) worst = i;
        const double t = f.snr.CentreSeconds(i);
        if (t < 1.0 || t > 1.2) {
            EXPECT_EQ(f.snr.db[i], 35.0f) << t; // untouched frames: no error
        }
    }
    EXPECT_GE(f.snr.CentreSeconds(worst), 1.0);
    EXPECT_LE(f.snr.CentreSeconds(worst), 1.2);
    std::size_t widest = 0;
    for (std::size_t i = 0; i < f.lsd.Size(); ++i) {
        if (f.lsd.db[i] > f.lsd.db[widest]) widest = i;
    }
    EXPECT_NEAR(f.lsd.CentreSeconds(widest), 1.1, 0.12);
    EXPECT_LT(f.lsd.db[0], 1e-6); // the first frame, far from the noise
}

TEST(FrameQualityTest, SilenceIsMarkedInactive) {
    std::vector<float> x(16000, 0.0f);
    for (std::size_t i = 8000; i < 16000; ++i) x[i] = static_cast<float>(3000 * std::sin(0.3 * i));
    const FrameQuality f = MeasureFrames(x, x, 8000, 0);
    ASSERT_EQ(f.snr.Size(), 100u);
    for (std::size_t i = 0; i < 50; ++i) EXPECT_EQ(f.snr.active[i], 0) << i;
    for (std::size_t i = 50; i < 100; ++i) EXPECT_EQ(f.snr.active[i], 1) << i;
    // Nothing but silence: no active frame, and the means say 0.
    const std::vector<float> quiet(4000, 0.0f);
    const FrameQuality none = MeasureFrames(quiet, quiet, 8000, 0);
    ASSERT_TRUE(none.valid);
    for (const auto a : none.snr.active) EXPECT_EQ(a, 0);
    EXPECT_EQ(none.snr.ActiveMean(), 0.0);
    EXPECT_EQ(none.lsd.ActiveMean(), 0.0);
}

TEST(FrameQualityTest, ShortAndMisalignedInputs) {
    const std::vector<float> x(200, 100.0f);
    // Shorter than a spectral frame: segments, but no spectral frame.
    const FrameQuality shortOne = MeasureFrames(x, x, 8000, 0);
    ASSERT_TRUE(shortOne.valid);
    EXPECT_EQ(shortOne.snr.Size(), 1u);
    EXPECT_EQ(shortOne.lsd.Size(), 0u);
    // A delay that leaves no overlap, a negative delay, no rate, nothing.
    EXPECT_FALSE(MeasureFrames(x, x, 8000, 200).valid);
    EXPECT_FALSE(MeasureFrames(x, x, 8000, -1).valid);
    EXPECT_FALSE(MeasureFrames(x, x, 0, 0).valid);
    EXPECT_FALSE(MeasureFrames({}, x, 8000, 0).valid);
}

TEST(FrameQualityTest, LevelMatchingLooksAtActiveSpeechOnly) {
    const auto x = Speech();
    // A decoded signal 6 dB down, 37 samples late.
    std::vector<float> y(37, 0.0f);
    for (const float v : x) y.push_back(0.5f * v);
    EXPECT_NEAR(LevelMatchGain(x, y, 8000, 37), 2.0, 1e-6);
    // Loud noise where the reference is silent does not change the gain.
    std::vector<float> gapped = x;
    std::fill(gapped.begin(), gapped.begin() + 4000, 0.0f);
    std::vector<float> noisy(gapped.size());
    for (std::size_t i = 0; i < noisy.size(); ++i)
        noisy[i] = i < 4000 ? ((i % 2) != 0 ? 9000.0f : -9000.0f) : 0.25f * gapped[i];
    EXPECT_NEAR(LevelMatchGain(gapped, noisy, 8000, 0), 4.0, 1e-6);
    // A silent decoded signal or a silent reference keeps its level.
    EXPECT_EQ(LevelMatchGain(x, std::vector<float>(x.size(), 0.0f), 8000, 0), 1.0);
    EXPECT_EQ(LevelMatchGain(std::vector<float>(x.size(), 0.0f), y, 8000, 0), 1.0);
    EXPECT_EQ(LevelMatchGain(x, y, 8000, static_cast<int>(y.size())), 1.0);
}

// The comparison streamed block by block gives the same curves and gain as
// the whole-signal ones (the window draws the streamed ones): every active
// frame's value, the activity decisions, the frame times.
TEST(FrameQualityTest, StreamedComparisonGivesTheSameCurvesAndGain) {
    const auto x = Speech();
    for (const std::size_t delay : {0u, 61u}) {
        auto y = Degraded(x, delay, 400.0f, 11);
        for (std::size_t i = 0; i < 3000; ++i) y[delay + i] *= 0.3f; // a quieter start
        const Quality q = CompareSignals(x, y, 8000);
        ASSERT_TRUE(q.valid);
        const FrameQuality whole = MeasureFrames(x, y, 8000, q.delaySamples);
        ASSERT_TRUE(q.frames.valid);
        for (const auto &[streamed, direct] :
             {std::pair(&q.frames.snr, &whole.snr), std::pair(&q.frames.lsd, &whole.lsd)}) {
            ASSERT_EQ(streamed->Size(), direct->Size());
            EXPECT_EQ(streamed->active, direct->active);
            EXPECT_DOUBLE_EQ(streamed->stepSeconds, direct->stepSeconds);
            EXPECT_DOUBLE_EQ(streamed->firstCentreSeconds, direct->firstCentreSeconds);
            for (std::size_t i = 0; i < streamed->Size(); ++i) {
                if (direct->active[i] != 0) EXPECT_NEAR(streamed->db[i], direct->db[i], 1e-3) << i;
            }
        }
        EXPECT_NEAR(q.frames.snr.ActiveMean(), q.segmentalSnrDb, 1e-4);
        EXPECT_NEAR(q.frames.lsd.ActiveMean(), q.logSpectralDistanceDb, 1e-4);
        EXPECT_NEAR(q.levelGain, LevelMatchGain(x, y, 8000, q.delaySamples), 1e-9);
    }
    // Silence on either side: the gain stays 1.
    const std::vector<float> silent(x.size(), 0.0f);
    EXPECT_EQ(CompareSignals(x, silent, 8000).levelGain, 1.0);
}

} // namespace
