// Decoded files saved as plain 16-bit wave files.
#include "eval_support.hpp"

#include "core/quality.hpp"
#include "core/wave_export.hpp"
#include "core/wavefile.hpp"

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

constexpr uint32_t k8kMono16 = CODEC_FMT_PCM16_MONO_8KHZ;
constexpr uint32_t k8kMono8 = 0x11102;
constexpr uint32_t k11kStereo8 = 0x21202;

TEST(WaveExportTest, SixteenBitFilesAreCopiedAsTheyStand) {
    TempDir dir;
    WriteBytes(dir / "d.~d0", SpeechLikeWave(8000, 800));
    RecordingFrontend ui;
    ASSERT_TRUE(SaveAs16BitWave(ui, dir / "d.~d0", k8kMono16, dir / "out.wav"));
    EXPECT_EQ(ReadBytes(dir / "out.wav"), ReadBytes(dir / "d.~d0"));
    EXPECT_TRUE(ui.messages.empty());
}

TEST(WaveExportTest, EightBitSamplesAreWidened) {
    TempDir dir;
    for (const uint32_t flags : {k8kMono8, k11kStereo8}) {
        WaveSpec w;
        w.bits = 8;
        w.channels = (flags & 0x200) != 0 ? 2 : 1;
        w.rate = static_cast<uint32_t>(RateOfFlags(flags));
        w.blockAlign = w.channels;
        w.data = {0, 128, 255, 129, 64, 200};
        WriteBytes(dir / "d.~d0", MakeWave(w));
        RecordingFrontend ui;
        ASSERT_TRUE(SaveAs16BitWave(ui, dir / "d.~d0", flags, dir / "out.wav")) << flags;
        OriginalFile saved;
        ASSERT_TRUE(OpenOriginal(ui, dir / "out.wav", saved));
        EXPECT_EQ(saved.formatFlags, (flags & ~0x1000u) | 0x2000u); // the same, but 16 bit
        EXPECT_EQ(saved.dataBytes, 12u);
        std::vector<float> samples;
        int rate = 0;
        ASSERT_TRUE(ReadWaveSamples(dir / "out.wav", samples, rate));
        if (w.channels == 1) {
            EXPECT_EQ(samples, (std::vector<float>{-32768, 0, 32512, 256, -16384, 18432}));
        } else {
            EXPECT_EQ(samples, (std::vector<float>{-16384, 16384, 1024}));
        }
        EXPECT_TRUE(ui.messages.empty());
    }
}

TEST(WaveExportTest, FailuresAreShown) {
    TempDir dir;
    WriteBytes(dir / "d.~d0", SpeechLikeWave(8000, 80));
    RecordingFrontend ui;
    EXPECT_FALSE(SaveAs16BitWave(ui, dir / "d.~d0", k8kMono16, dir / "none/out.wav"));
    EXPECT_TRUE(ui.Saw("Could not write to destination file " + (dir / "none/out.wav") + "."));
    // An 8-bit file that is not there, and one whose destination cannot be made.
    RecordingFrontend missing;
    EXPECT_FALSE(SaveAs16BitWave(missing, dir / "gone.~d0", k8kMono8, dir / "out.wav"));
    EXPECT_FALSE(missing.messages.empty());
    WaveSpec w;
    w.bits = 8;
    w.blockAlign = 1;
    w.data = {1, 2, 3};
    WriteBytes(dir / "e.~d0", MakeWave(w));
    RecordingFrontend cannot;
    EXPECT_FALSE(SaveAs16BitWave(cannot, dir / "e.~d0", k8kMono8, dir / "none/out.wav"));
    EXPECT_FALSE(cannot.messages.empty());
}

} // namespace
