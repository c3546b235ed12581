// The 11:8 down-sampler: block arithmetic, chunking and the file it writes.
#include "eval_support.hpp"

#include "core/downsample.hpp"
#include "core/wavefile.hpp"

#include <array>
#include <numeric>

using namespace vntr::evaluator;
using namespace vntr::test;

namespace {

std::array<int16_t, 8> Block(const std::array<int16_t, 11> &x) {
    return DownsampleBlock(std::span<const int16_t, 11>(x));
}

TEST(DownsampleBlockTest, ConstantBlockStaysConstant) {
    for (const int16_t v : {int16_t{0}, int16_t{1}, int16_t{-1}, int16_t{1234}, int16_t{-32768}, int16_t{32767}}) {
        std::array<int16_t, 11> x;
        x.fill(v);
        for (const int16_t y : Block(x)) EXPECT_EQ(y, v) << v;
    }
}

TEST(DownsampleBlockTest, RampIsInterpolatedAtElevenEighths) {
    // Quadratic interpolation is exact on a straight line: y[j] = x(11j/8).
    std::array<int16_t, 11> x;
    for (int i = 0; i < 11; ++i) x[i] = static_cast<int16_t>(800 * i);
    const auto y = Block(x);
    for (int j = 0; j < 8; ++j) EXPECT_EQ(y[j], 800 * 11 * j / 8) << j;
}

TEST(DownsampleBlockTest, EachInputWeighsOnlyInItsRows) {
    std::array<int16_t, 11> x{};
    x[0] = 1000;
    auto y = Block(x);
    EXPECT_EQ(y[0], 1000);
    EXPECT_EQ(y[1], -118); // -960 * 1000 / 8192, shifted arithmetically (rounds down)
    for (int j = 2; j < 8; ++j) EXPECT_EQ(y[j], 0) << j;
    x.fill(0);
    x[10] = 1000;
    y = Block(x);
    for (int j = 0; j < 7; ++j) EXPECT_EQ(y[j], 0) << j;
    EXPECT_EQ(y[7], 507); // 4160 * 1000 / 8192
    x.fill(0);
    x[3] = 1000; // previous of row 3, nothing else
    y = Block(x);
    EXPECT_EQ(y[2], 5376 * 1000 >> 13);
    EXPECT_EQ(y[3], -448 * 1000 >> 13);
}

TEST(DownsampleBlockTest, OvershootSaturatesInsteadOfWrapping) {
    // Row 1 weighs x[0], x[1], x[2] by -960, 7040, 2112: a full-scale step
    // between x[0] and x[1] overshoots by about a quarter.
    std::array<int16_t, 11> x;
    x.fill(32767);
    x[0] = -32768;
    EXPECT_EQ(Block(x)[1], 32767); // 40447 kept to its low 16 bits would be -25089
    x.fill(-32768);
    x[0] = 32767;
    EXPECT_EQ(Block(x)[1], -32768); // -40449 would wrap to +25087
}

class DownsampleFileTest : public ::testing::Test {
protected:
    // Down-samples an 11025 Hz original of `n` samples; returns the output's data bytes.
    uint32_t Run(std::size_t n) {
        std::vector<int16_t> samples(n);
        std::iota(samples.begin(), samples.end(), int16_t{0});
        WaveSpec w;
        w.rate = 11025;
        w.data = Pcm16(samples);
        WriteBytes(dir / "in.wav", MakeWave(w));
        EXPECT_TRUE(DownsampleOriginal(ui, dir / "in.wav", dir / "out.wav"));
        OriginalFile out;
        EXPECT_TRUE(OpenOriginal(ui, dir / "out.wav", out)) << (ui.messages.empty() ? "" : ui.messages[0].text);
        EXPECT_EQ(out.formatFlags, 0x12102u);
        return out.dataBytes;
    }
    TempDir dir;
    RecordingFrontend ui;
};

TEST_F(DownsampleFileTest, WholeChunksOnlyAreConverted) {
    EXPECT_EQ(Run(2200), 1600u * 2);
    EXPECT_EQ(Run(2210), 1600u * 2); // the cut-off chunk is dropped
    EXPECT_EQ(Run(2420), 1760u * 2);
}

TEST_F(DownsampleFileTest, FewerThanOneChunkGivesAnEmptyDataChunk) {
    EXPECT_EQ(Run(219), 0u);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DownsampleFileTest, OutputHeaderIs8kHz16BitMono) {
    Run(440);
    const auto bytes = ReadBytes(dir / "out.wav");
    ASSERT_GE(bytes.size(), 44u);
    auto le16 = [&](std::size_t at) { return bytes[at] | bytes[at + 1] << 8; };
    auto le32 = [&](std::size_t at) { return static_cast<uint32_t>(le16(at) | le16(at + 2) << 16); };
    EXPECT_EQ(le32(16), 18u);    // fmt size
    EXPECT_EQ(le16(20), 1);      // PCM
    EXPECT_EQ(le16(22), 1);      // mono
    EXPECT_EQ(le32(24), 8000u);  // rate
    EXPECT_EQ(le32(28), 16000u); // bytes per second
    EXPECT_EQ(le16(32), 2);
    EXPECT_EQ(le16(34), 16);
    EXPECT_EQ(le16(36), 0);
    // The second block starts at input sample 11, which is output sample 8.
    EXPECT_EQ(static_cast<int16_t>(le16(46 + 2 * 8)), 11);
}

TEST_F(DownsampleFileTest, MissingOriginalFailsWithTheReadersMessage) {
    EXPECT_FALSE(DownsampleOriginal(ui, dir / "none.wav", dir / "out.wav"));
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Cannot open file : " + (dir / "none.wav")});
}

} // namespace
