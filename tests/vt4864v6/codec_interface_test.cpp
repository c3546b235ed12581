// VT4864v6 behind the common frame: the three modes, the per-call rate
// choice, and the output-capacity and input-size tests with their write-backs.
#include "bitstream.hpp"
#include "engine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace vntr::vt4864v6 {
namespace {

using Frame = frame::Frame<Engine>;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;

std::vector<int16_t> Tone(int frames) {
    std::vector<int16_t> pcm(static_cast<std::size_t>(frames * kFrameLength));
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        pcm[n] = static_cast<int16_t>(6000.0 * std::sin(0.07 * static_cast<double>(n)) *
                                      std::sin(0.003 * static_cast<double>(n)));
    }
    return pcm;
}

class Handles {
public:
    explicit Handles(uint32_t options) {
        EXPECT_EQ(Frame::OpenEncoder(kFormat, options, &enc), CODEC_OK);
        EXPECT_EQ(Frame::OpenDecoder(kFormat, options, &dec), CODEC_OK);
    }
    ~Handles() {
        Frame::CloseEncoder(enc.handle);
        Frame::CloseDecoder(dec.handle);
    }
    CodecFormat enc{};
    CodecFormat dec{};
};

TEST(Modes, OptionWordChoosesTheMode) {
    struct Row {
        uint32_t options;
        int16_t id;
        uint16_t max;
        float min;
        uint32_t rate;
        uint32_t mask;
    };
    const Row rows[] = {{0, 2026, 24, 18.0f, 6400, 0x30000},
                        {CODEC_OPT_4800, 2027, 18, 18.0f, 4800, 0},
                        {CODEC_OPT_6400, 2028, 24, 24.0f, 6400, 0}};
    for (const Row &r : rows) {
        CodecFormat f{};
        f.handle = reinterpret_cast<CodecHandle>(0x1234);
        ASSERT_EQ(Frame::GetCodecData(CODEC_DIRECTION_ENCODER, kFormat, r.options, &f), CODEC_OK);
        EXPECT_EQ(f.codecId, r.id);
        EXPECT_EQ(f.maxCodedBytes, r.max);
        EXPECT_EQ(static_cast<float>(f.minCodedBytes), r.min); // a copy: the packed field is misaligned
        EXPECT_EQ(f.bitRate, r.rate);
        EXPECT_EQ(f.peakBitRate, r.rate);
        EXPECT_EQ(f.optionMask, r.mask);
        EXPECT_EQ(f.frameBytes, 480);
        EXPECT_EQ(f.delaySamples, 0u);
        EXPECT_EQ(f.handle, reinterpret_cast<CodecHandle>(0x1234)); // never written here
    }
    CodecFormat f{};
    EXPECT_EQ(Frame::GetCodecData(0, kFormat, CODEC_OPT_4800 | CODEC_OPT_6400, &f), CODEC_ERR_OPTION);
    EXPECT_EQ(Frame::GetCodecData(0, kFormat, 0x40000, &f), CODEC_ERR_OPTION);
    EXPECT_EQ(Frame::GetCodecData(0, CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ, 0, &f), CODEC_ERR_FORMAT); // 11 kHz
    EXPECT_EQ(Frame::GetCodecData(0, 0x12202, 0, &f), CODEC_ERR_FORMAT);                                // stereo
    CodecFormat out{};
    EXPECT_EQ(Frame::OpenEncoder(kFormat, CODEC_OPT_4800 | CODEC_OPT_6400, &out), CODEC_ERR_OPTION);
}

TEST(Modes, InfoNamesTheLibrary) {
    CodecInfo info{};
    ASSERT_EQ(Frame::GetCodecInfo(&info), CODEC_OK);
    EXPECT_STREQ(info.shortName, "VT4864v6");
    EXPECT_STREQ(info.description, "Veltrane(TM) 4864v6 Dual Bitrate Vocoder (4.8/6.4 kbps, 8 kHz)");
    EXPECT_EQ(info.formatMask, 0x12102u);
    EXPECT_EQ(info.optionMask, 0x30000u);
    EXPECT_EQ(info.version, 0x50014u);
    for (uint32_t c : info.capabilityFlags) EXPECT_EQ(c, 1u);
}

TEST(Encode, FixedModesCodeTheirOwnFrameSize) {
    const auto pcm = Tone(3);
    for (uint32_t options : {CODEC_OPT_4800, CODEC_OPT_6400}) {
        Handles h(options);
        for (int f = 0; f < 3; ++f) {
            uint8_t out[32];
            uint16_t in = 480, outBytes = sizeof out;
            ASSERT_EQ(Frame::Encode(h.enc.handle, 0, &pcm[static_cast<std::size_t>(f * 240)], &in, out, &outBytes),
                      CODEC_OK);
            EXPECT_EQ(outBytes, options == CODEC_OPT_4800 ? 18 : 24);
            EXPECT_EQ(in, 480);
            EXPECT_EQ(out[0] & 3, options == CODEC_OPT_4800 ? 1 : 0);
        }
        uint8_t out[32];
        uint16_t in = 480, outBytes = sizeof out;
        EXPECT_EQ(Frame::Encode(h.enc.handle, CODEC_OPT_4800, pcm.data(), &in, out, &outBytes), CODEC_ERR_OPTION);
    }
}

TEST(Encode, VariableModeTakesTheRateFromEachCallsFlags) {
    Handles h(0);
    const auto pcm = Tone(6);
    const uint32_t flags[] = {0, CODEC_OPT_4800, CODEC_OPT_6400, CODEC_OPT_4800, 0, CODEC_OPT_4800};
    for (int f = 0; f < 6; ++f) {
        uint8_t out[32];
        uint16_t in = 480, outBytes = sizeof out;
        ASSERT_EQ(Frame::Encode(h.enc.handle, flags[f], &pcm[static_cast<std::size_t>(f * 240)], &in, out, &outBytes),
                  CODEC_OK);
        EXPECT_EQ(outBytes, flags[f] == CODEC_OPT_4800 ? 18 : 24) << f;
    }
    uint8_t out[32];
    uint16_t in = 480, outBytes = sizeof out;
    EXPECT_EQ(Frame::Encode(h.enc.handle, CODEC_OPT_4800 | CODEC_OPT_6400, pcm.data(), &in, out, &outBytes),
              CODEC_ERR_OPTION);
}

TEST(Encode, CapacityIsTestedAgainstTheRowOfThisFrame) {
    Handles h(0);
    const auto pcm = Tone(4);
    uint8_t out[32];
    // The frame's own check: below the open mode's 24 bytes.
    uint16_t in = 480, outBytes = 23;
    EXPECT_EQ(Frame::Encode(h.enc.handle, 0, pcm.data(), &in, out, &outBytes), CODEC_ERR_ARGUMENT);
    EXPECT_EQ(outBytes, 24);
    // A 4.8 frame lowers the encoder's largest frame to 18 bytes...
    in = 480;
    outBytes = 24;
    ASSERT_EQ(Frame::Encode(h.enc.handle, CODEC_OPT_4800, pcm.data(), &in, out, &outBytes), CODEC_OK);
    in = 480;
    outBytes = 18;
    ASSERT_EQ(Frame::Encode(h.enc.handle, CODEC_OPT_4800, &pcm[240], &in, out, &outBytes), CODEC_OK);
    EXPECT_EQ(outBytes, 18);
    // ...so a 6.4 frame into 20 bytes passes the frame and is refused by the engine, with 24 written back.
    in = 480;
    outBytes = 20;
    uint8_t guard[32];
    std::fill(std::begin(guard), std::end(guard), 0xA5);
    EXPECT_EQ(Frame::Encode(h.enc.handle, 0, &pcm[480], &in, guard, &outBytes), CODEC_ERR_ARGUMENT);
    EXPECT_EQ(outBytes, 24);
    for (uint8_t b : guard) EXPECT_EQ(b, 0xA5); // nothing written
    // A refused call leaves the signal state alone: the next frames code as if it never happened.
    Handles ref(0);
    for (int f = 0; f < 2; ++f) {
        in = 480;
        outBytes = 24;
        ASSERT_EQ(
            Frame::Encode(ref.enc.handle, CODEC_OPT_4800, &pcm[static_cast<std::size_t>(f * 240)], &in, out, &outBytes),
            CODEC_OK);
    }
    uint8_t a[32], b[32];
    in = 480;
    outBytes = 24;
    ASSERT_EQ(Frame::Encode(h.enc.handle, 0, &pcm[480], &in, a, &outBytes), CODEC_OK);
    in = 480;
    outBytes = 24;
    ASSERT_EQ(Frame::Encode(ref.enc.handle, 0, &pcm[480], &in, b, &outBytes), CODEC_OK);
    EXPECT_EQ(std::vector<uint8_t>(a, a + 24), std::vector<uint8_t>(b, b + 24));
}

TEST(Encode, EndOfStreamProducesNothing) {
    Handles h(CODEC_OPT_6400);
    uint8_t out[32];
    uint16_t in = CODEC_END_OF_STREAM, outBytes = sizeof out;
    const int16_t pcm[240] = {};
    EXPECT_EQ(Frame::Encode(h.enc.handle, 0, pcm, &in, out, &outBytes), CODEC_OK);
    EXPECT_EQ(outBytes, 0);
    EXPECT_EQ(in, 0);
}

std::vector<uint8_t> EncodeStream(uint32_t options, const std::vector<uint32_t> &flags, std::vector<uint16_t> *sizes) {
    Handles h(options);
    const auto pcm = Tone(static_cast<int>(flags.size()));
    std::vector<uint8_t> coded;
    for (std::size_t f = 0; f < flags.size(); ++f) {
        uint8_t out[32];
        uint16_t in = 480, outBytes = sizeof out;
        EXPECT_EQ(Frame::Encode(h.enc.handle, flags[f], &pcm[f * 240], &in, out, &outBytes), CODEC_OK);
        coded.insert(coded.end(), out, out + outBytes);
        if (sizes) sizes->push_back(outBytes);
    }
    return coded;
}

TEST(Decode, OneDecoderFollowsAMixedRateStream) {
    std::vector<uint32_t> flags;
    for (int f = 0; f < 12; ++f) flags.push_back(f % 2 ? CODEC_OPT_4800 : 0);
    std::vector<uint16_t> sizes;
    const auto coded = EncodeStream(0, flags, &sizes);
    // As the evaluator feeds it: up to maxCodedBytes at a time, the unconsumed tail carried over.
    Handles h(0);
    std::size_t pos = 0;
    std::vector<int16_t> carried;
    for (std::size_t f = 0; f < sizes.size(); ++f) {
        int16_t pcm[240];
        uint16_t in = static_cast<uint16_t>(std::min<std::size_t>(24, coded.size() - pos)), outBytes = sizeof pcm;
        ASSERT_EQ(Frame::Decode(h.dec.handle, 0, &coded[pos], &in, pcm, &outBytes), CODEC_OK) << f;
        EXPECT_EQ(in, sizes[f]) << f;
        EXPECT_EQ(outBytes, 480);
        pos += in;
        carried.insert(carried.end(), pcm, pcm + 240);
    }
    EXPECT_EQ(pos, coded.size());
    uint16_t in = 0, outBytes = 480;
    int16_t pcm[240];
    EXPECT_EQ(Frame::Decode(h.dec.handle, 0, coded.data(), &in, pcm, &outBytes), CODEC_ERR_NEED_DATA);
    // Offering exactly each frame's size gives the same samples.
    Handles exact(0);
    pos = 0;
    std::vector<int16_t> direct;
    for (uint16_t size : sizes) {
        uint16_t n = size, ob = 480;
        ASSERT_EQ(Frame::Decode(exact.dec.handle, 0, &coded[pos], &n, pcm, &ob), CODEC_OK);
        pos += size;
        direct.insert(direct.end(), pcm, pcm + 240);
    }
    EXPECT_EQ(direct.size(), carried.size());
    // Dither differs per handle only in sequence position, which is the same here.
    EXPECT_EQ(direct, carried);
}

TEST(Decode, ShortInputForTheFramesOwnRateAsksForItsSize) {
    const auto coded = EncodeStream(CODEC_OPT_6400, {0}, nullptr);
    Handles h(0);
    int16_t pcm[240];
    uint16_t in = 20, outBytes = sizeof pcm;
    EXPECT_EQ(Frame::Decode(h.dec.handle, 0, coded.data(), &in, pcm, &outBytes), CODEC_ERR_NEED_DATA);
    EXPECT_EQ(in, 24);
    // Below the mode's smallest frame the frame itself refuses and leaves the count.
    in = 17;
    EXPECT_EQ(Frame::Decode(h.dec.handle, 0, coded.data(), &in, pcm, &outBytes), CODEC_ERR_NEED_DATA);
    EXPECT_EQ(in, 17);
    // A fixed 6.4 decoder needs 24 bytes even for a low-rate frame, and consumes 18.
    const auto low = EncodeStream(CODEC_OPT_4800, {0, 0}, nullptr);
    Handles six(CODEC_OPT_6400);
    in = 18;
    EXPECT_EQ(Frame::Decode(six.dec.handle, 0, low.data(), &in, pcm, &outBytes), CODEC_ERR_NEED_DATA);
    in = 24;
    outBytes = sizeof pcm;
    EXPECT_EQ(Frame::Decode(six.dec.handle, 0, low.data(), &in, pcm, &outBytes), CODEC_OK);
    EXPECT_EQ(in, 18);
}

TEST(Decode, RateCodesTwoAndThreeDecodeAsLowRateFrames) {
    auto coded = EncodeStream(CODEC_OPT_4800, {0}, nullptr);
    for (uint8_t code : {2, 3}) {
        std::vector<uint8_t> frame(coded.begin(), coded.begin() + 18);
        frame[0] = static_cast<uint8_t>((frame[0] & ~3) | code);
        frame.resize(24, 0xEE); // more offered than the frame uses
        Handles h(0);
        int16_t pcm[240];
        uint16_t in = 24, outBytes = sizeof pcm;
        ASSERT_EQ(Frame::Decode(h.dec.handle, 0, frame.data(), &in, pcm, &outBytes), CODEC_OK);
        EXPECT_EQ(in, 18);
    }
}

TEST(Encode, SilenceCodesTheRestingParameters) {
    const std::vector<int16_t> silence(240, 0);
    for (uint32_t options : {CODEC_OPT_6400, CODEC_OPT_4800}) {
        Handles h(options);
        uint8_t out[32];
        uint16_t in = 480, outBytes = sizeof out;
        ASSERT_EQ(Frame::Encode(h.enc.handle, 0, silence.data(), &in, out, &outBytes), CODEC_OK);
        const RateMode &mode = FrameRate(out);
        const VocoderParams p = UnpackFrame(out, mode);
        // Sub-frame 0 sees nothing at all; later ones see the smallest pulses (amplitude 2) of the
        // earlier ones through the filter memories, but never a larger gain.
        EXPECT_EQ(p[static_cast<std::size_t>(mode.GainWord(0))], 0) << "predictor 0, gain index 0";
        EXPECT_EQ(p[static_cast<std::size_t>(mode.SignsWord(0))], 127);
        EXPECT_EQ(p[static_cast<std::size_t>(mode.PositionsWord(0))], 0);
        for (int k = 1; k < mode.subframes; ++k) EXPECT_EQ(p[static_cast<std::size_t>(mode.GainWord(k))] >> 7, 0);
        if (mode.is4800) {
            EXPECT_EQ(p[4], 1); // lag 19
            EXPECT_EQ(p[5], 1);
            EXPECT_EQ(p[6], 8); // sub-frame 1 differential, no correlation: the window centre 26
        } else {
            for (int k = 0; k < 4; ++k) EXPECT_EQ(p[static_cast<std::size_t>(4 + k)], 1);
        }
    }
}

} // namespace
} // namespace vntr::vt4864v6
