// VT15 as the evaluator meets it: registered by its own DllRegisterServer in
// the build's system root, found by discovery, and run by the pipeline over
// real speech.  Its frames are not byte-aligned, so the coded file must hold
// exactly the library's continuous stream, flushed partial byte included.
#include "../evaluator/eval_support.hpp"

#include "core/pipeline.hpp"

#include "test_paths.hpp"

#include <vntr/codec_binding.hpp>

#include <cstring>

using namespace vntr::evaluator;

namespace vntr::test {
namespace {

constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;
constexpr std::size_t kFrameBytes = 360;

// The payload of the first RIFF chunk named `id` (top level, after "WAVE").
std::vector<uint8_t> Chunk(const std::vector<uint8_t> &riff, const char *id) {
    std::size_t at = 12;
    while (at + 8 <= riff.size()) {
        uint32_t size;
        std::memcpy(&size, &riff[at + 4], 4);
        if (std::memcmp(&riff[at], id, 4) == 0 && at + 8 + size <= riff.size()) {
            return {riff.begin() + static_cast<std::ptrdiff_t>(at + 8),
                    riff.begin() + static_cast<std::ptrdiff_t>(at + 8 + size)};
        }
        at += 8 + size + (size & 1u);
    }
    return {};
}

// The stream VT15 itself makes of `pcm` (whole frames), with the flush.
std::vector<uint8_t> LibraryStream(CodecBinding &lib, const std::vector<uint8_t> &pcm, std::size_t *frames) {
    CodecFormat f{};
    EXPECT_EQ(lib.openEncoder(kFormat, 0, &f), CODEC_OK);
    std::vector<uint8_t> stream;
    uint8_t out[7];
    *frames = 0;
    for (std::size_t at = 0; at + kFrameBytes <= pcm.size(); at += kFrameBytes) {
        uint16_t in = kFrameBytes, cap = sizeof out;
        EXPECT_EQ(lib.encode(f.handle, 0, &pcm[at], &in, out, &cap), CODEC_OK);
        stream.insert(stream.end(), out, out + cap);
        ++*frames;
    }
    uint16_t in = CODEC_END_OF_STREAM, cap = sizeof out;
    EXPECT_EQ(lib.encode(f.handle, 0, pcm.data(), &in, out, &cap), CODEC_OK);
    stream.insert(stream.end(), out, out + cap);
    EXPECT_EQ(lib.closeEncoder(f.handle), CODEC_OK);
    return stream;
}

class Vt15InTheEvaluator : public ::testing::Test {
protected:
    void SetUp() override {
        const auto libs = BuiltCodecLibraries();
        if (std::find(libs.begin(), libs.end(), "VT15") == libs.end()) GTEST_SKIP() << "VT15 not built";
        if (SpeechRecording().empty()) GTEST_SKIP() << "codec2-examples not installed";
        lib = std::make_unique<CodecBinding>(CodecLibraryPath("VT15"));
        ASSERT_EQ(lib->registerServer(), 0);
        config = world.Config();
        config.systemRoot = root;
        pcm = ReadBytes(SpeechRecording());
        pcm.resize(pcm.size() / kFrameBytes * kFrameBytes);
        WaveSpec w;
        w.data = pcm;
        WriteBytes(world.File("speech.wav"), MakeWave(w));
    }

    // Runs VT15 alone over the recording; returns its slot.
    const CodecSlot &Run(Evaluator &ev) {
        EXPECT_TRUE(ev.Startup());
        std::vector<bool> pick(ev.SlotCount());
        std::size_t index = ev.SlotCount();
        for (std::size_t i = 0; i < ev.SlotCount(); ++i) {
            pick[i] = ev.Slots()[i].Name() == "VT15";
            if (pick[i]) index = i;
        }
        EXPECT_LT(index, ev.SlotCount()) << "discovery did not find VT15";
        ev.ApplySelection(pick);
        EXPECT_TRUE(ev.OpenOriginalFile(world.File("speech.wav")));
        ev.ProcessSelectedCodecs();
        return ev.Slots()[index < ev.SlotCount() ? index : 0];
    }

    const std::string root = fs::path(VNTR_TEST_CODEC_DIR).parent_path().parent_path();
    EvaluatorWorld world;
    ScopedEnv windir{"VNTR_WINDIR", root};
    EvaluatorConfig config;
    RecordingFrontend ui;
    std::unique_ptr<CodecBinding> lib;
    std::vector<uint8_t> pcm;
};

TEST_F(Vt15InTheEvaluator, CodesRealSpeechIntoTheLibrarysOwnStreamAtItsVariableRate) {
    Evaluator ev(ui, config);
    const CodecSlot &slot = Run(ev);
    ASSERT_EQ(slot.Name(), "VT15");
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_FALSE(slot.failed);
    EXPECT_EQ(slot.ShortName(), "VT15");
    EXPECT_EQ(slot.format.codecId, 2034);
    EXPECT_EQ(slot.encodedInputBytes, pcm.size());

    std::size_t frames = 0;
    const std::vector<uint8_t> expected = LibraryStream(*lib, pcm, &frames);
    const std::vector<uint8_t> data = Chunk(ReadBytes(ev.Temp().Coded("VT15")), "data");
    EXPECT_EQ(slot.codedBytes, expected.size());
    EXPECT_TRUE(data == expected) << "the coded file holds " << data.size() << " bytes, the library made "
                                  << expected.size();
    // Speech with pauses: below the peak rate, above the rate of silence.
    EXPECT_LT(slot.runBitRate, 2134.0f);
    EXPECT_GT(slot.runBitRate, 600.0f);
}

// Every VT15 stream opens with two 2-bit frames (the initial record, then the
// first analysed frame, quiet by definition): the decoding pass must go on
// through calls that produce a frame without using up a byte.
TEST_F(Vt15InTheEvaluator, TheDecodingPassDecodesEveryCodedFrame) {
    Evaluator ev(ui, config);
    const CodecSlot &slot = Run(ev);
    ASSERT_EQ(slot.Name(), "VT15");
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    const std::size_t frames = pcm.size() / kFrameBytes;
    // Every byte is read, but the flushed last one only in part (its unused
    // high bits follow the last frame), so it counts as consumed only when
    // the stream ends on a byte boundary.
    EXPECT_LE(slot.decodedCodedBytes, slot.codedBytes);
    EXPECT_GE(slot.decodedCodedBytes + 1, slot.codedBytes);
    const std::vector<uint8_t> decoded = Chunk(ReadBytes(ev.Temp().Decoded("VT15")), "data");
    EXPECT_EQ(decoded.size(), (frames + 1) * kFrameBytes) << "N frames in, N + 1 coded frames out";
    ASSERT_TRUE(slot.quality.valid);
    EXPECT_LT(slot.quality.logSpectralDistanceDb, 15.0);
}

} // namespace
} // namespace vntr::test
