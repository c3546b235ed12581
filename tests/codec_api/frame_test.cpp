// The common frame with engines made for the test: the float conversion of
// the float engines, the fixed-rate input rule, one close for both
// directions, and failures inside the engine's open.
#include <vntr/codec_frame.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <vector>

extern "C" int vntr_c_header_record_sizes(int *format, int *info);

namespace vntr::frame {
namespace {

// Records what the engine saw, so that the test can check the frame's work.
struct Seen {
    std::vector<float> samples;
    uint16_t count = 0;
    bool endOfStream = false;
    CodecStatus initResult = CODEC_OK;
    CodecStatus decodeResult = CODEC_OK;
    std::vector<float> toDecode;
    int liveStates = 0;
};
Seen gSeen;

struct CountedState {
    int serial;
};

template <bool Float, InputRule Rule, bool OneClose>
struct TestEngine {
    static constexpr CodecInfo kInfo = {
        CODEC_FMT_PCM16_MONO_8KHZ, 0, 0x10002, 0, {0, 0, 0, 0}, 0, "test engine", "VTtest"};
    static constexpr uint32_t kLibraryTag = 0x54455354u;
    static constexpr InputRule kInputRule = Rule;
    static constexpr bool kFloatSamples = Float;
    static constexpr std::size_t kMaxFrameSamples = 4;
    static constexpr bool kOneCloseForBoth = OneClose;
    static constexpr registration::KeyRecord kRecords[1] = {};
    static constexpr std::span<const registration::KeyRecord> kRegistration{kRecords};
    using EncoderState = CountedState;
    using DecoderState = CountedState;
    using Sample = EngineSample<Float>;

    static CodecStatus SelectMode(uint32_t, uint32_t, CodecFormat &out) {
        out.optionMask = 0;
        out.bitRate = out.peakBitRate = 1000;
        out.delaySamples = 0;
        out.codecId = 1;
        out.frameBytes = 8; // four 16-bit samples
        out.maxCodedBytes = 3;
        out.minCodedBytes = 2.5f;
        return CODEC_OK;
    }
    static CodecStatus InitEncoder(EncoderState &, const CodecFormat &, uint32_t, uint32_t) {
        if (gSeen.initResult == CODEC_OK) ++gSeen.liveStates;
        return gSeen.initResult;
    }
    static CodecStatus InitDecoder(DecoderState &, const CodecFormat &, uint32_t, uint32_t) {
        if (gSeen.initResult == CODEC_OK) ++gSeen.liveStates;
        return gSeen.initResult;
    }
    static CodecStatus EncodeFrame(EncoderState &, const EncodeCall<Sample> &call) {
        gSeen.endOfStream = *call.inBytes == CODEC_END_OF_STREAM;
        gSeen.count = *call.inBytes;
        if constexpr (Float) {
            if (!gSeen.endOfStream) gSeen.samples.assign(call.in, call.in + *call.inBytes);
        }
        *call.outBytes = 1;
        call.out[0] = 0x42;
        return CODEC_OK;
    }
    static CodecStatus DecodeFrame(DecoderState &, const DecodeCall<Sample> &call) {
        gSeen.count = *call.outBytes;
        if constexpr (Float) {
            for (std::size_t i = 0; i < gSeen.toDecode.size(); ++i) call.out[i] = gSeen.toDecode[i];
        }
        *call.inBytes = 2;
        return gSeen.decodeResult;
    }
    static CodecStatus CloseEncoderState(EncoderState &) {
        --gSeen.liveStates;
        return CODEC_OK;
    }
    static CodecStatus CloseDecoderState(DecoderState &) {
        --gSeen.liveStates;
        return CODEC_OK;
    }
};

using FloatFrame = Frame<TestEngine<true, InputRule::Fixed, false>>;
using SharedCloseFrame = Frame<TestEngine<false, InputRule::Variable, true>>;

class CommonFrame : public ::testing::Test {
protected:
    void SetUp() override { gSeen = Seen{}; }
};

TEST_F(CommonFrame, FloatEnginesSeeExactSamplesAndASampleCount) {
    CodecFormat f{};
    ASSERT_EQ(FloatFrame::OpenEncoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &f), CODEC_OK);
    const int16_t pcm[4] = {-32768, -1, 0, 32767};
    uint16_t in = 8, cap = 3;
    uint8_t out[3];
    ASSERT_EQ(FloatFrame::Encode(f.handle, 0, pcm, &in, out, &cap), CODEC_OK);
    EXPECT_EQ(gSeen.count, 4) << "the engine counts samples";
    EXPECT_EQ(in, 8) << "the caller gets bytes back";
    EXPECT_EQ(gSeen.samples, (std::vector<float>{-32768.0f, -1.0f, 0.0f, 32767.0f}));
    EXPECT_EQ(cap, 1);

    // The end-of-stream count reaches the engine unchanged.
    in = CODEC_END_OF_STREAM;
    cap = 3;
    ASSERT_EQ(FloatFrame::Encode(f.handle, 0, pcm, &in, out, &cap), CODEC_OK);
    EXPECT_TRUE(gSeen.endOfStream);
    EXPECT_EQ(in, CODEC_END_OF_STREAM);
    EXPECT_EQ(FloatFrame::CloseEncoder(f.handle), CODEC_OK);
}

// The block conversion, four samples a register, gives every sample as
// FloatToPcm16 does: halves, the edges of the range and just beyond, huge
// values, infinities, NaNs and signed zeros, in every lane and in the tail.
TEST(FloatsToPcm16, GivesEverySampleAsFloatToPcm16) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float specials[] = {0.49f,     0.5f,      -0.5f,         -0.6f,         -1.5f,     32766.4f,  32766.5f,
                              32767.0f,  32767.4f,  32767.5f,      32768.0f,      -32767.5f, -32768.0f, -32768.5f,
                              -32769.0f, -32769.6f, 3e9f,          -3e9f,         1e30f,     -1e30f,    inf,
                              -inf,      nan,       -nan,          0.0f,          -0.0f,     1e-40f,    -1e-40f,
                              12.5f,     -12.5f,    2147483648.0f, -2147483904.0f};
    constexpr std::size_t kCount = sizeof specials / sizeof specials[0];
    for (std::size_t count = 0; count <= 11; ++count) {
        for (std::size_t start = 0; start < kCount; ++start) {
            float x[11];
            uint8_t want[22], got[22];
            for (std::size_t n = 0; n < count; ++n) {
                x[n] = specials[(start + 7 * n) % kCount];
                const int16_t s = FloatToPcm16(x[n]);
                std::memcpy(want + 2 * n, &s, 2);
            }
            FloatsToPcm16(x, count, got);
            EXPECT_EQ(std::memcmp(got, want, 2 * count), 0) << "count " << count << " start " << start;
        }
    }
}

TEST_F(CommonFrame, FloatOutputIsRoundedUpwardsFromAHalfAndSaturated) {
    // x + 0.5 truncated toward zero: halves go up, and negative values lean toward zero.
    const std::pair<float, int16_t> cases[] = {
        {0.49f, 0},          {0.5f, 1},           {1.5f, 2},          {-0.5f, 0},        {-0.6f, 0},
        {-1.5f, -1},         {-1.6f, -1},         {-2.7f, -2},        {32766.6f, 32767}, {40000.0f, 32767},
        {-32768.0f, -32767}, {-32769.6f, -32768}, {-40000.0f, -32768}};
    for (const auto &[x, expected] : cases) EXPECT_EQ(FloatToPcm16(x), expected) << x;

    CodecFormat f{};
    ASSERT_EQ(FloatFrame::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &f), CODEC_OK);
    gSeen.toDecode = {1e9f, -1e9f, 2.5f, -2.5f};
    const uint8_t coded[3] = {};
    int16_t pcm[4];
    uint16_t in = 3, cap = 8;
    ASSERT_EQ(FloatFrame::Decode(f.handle, 0, coded, &in, pcm, &cap), CODEC_OK);
    EXPECT_EQ(gSeen.count, 4) << "the engine writes samples";
    EXPECT_EQ(cap, 8);
    EXPECT_EQ(pcm[0], 32767);
    EXPECT_EQ(pcm[1], -32768);
    EXPECT_EQ(pcm[2], 3);
    EXPECT_EQ(pcm[3], -2);

    // An engine error is passed on.
    gSeen.decodeResult = CODEC_ERR_GENERAL;
    in = 3;
    EXPECT_EQ(FloatFrame::Decode(f.handle, 0, coded, &in, pcm, &cap), CODEC_ERR_GENERAL);
    EXPECT_EQ(FloatFrame::CloseDecoder(f.handle), CODEC_OK);
}

TEST_F(CommonFrame, FixedRateDecodersTakeExactlyTheFrameSize) {
    CodecFormat f{};
    ASSERT_EQ(FloatFrame::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &f), CODEC_OK);
    const uint8_t coded[8] = {};
    int16_t pcm[4];
    uint16_t in = 2, cap = 8;
    EXPECT_EQ(FloatFrame::Decode(f.handle, 0, coded, &in, pcm, &cap), CODEC_ERR_NEED_DATA);
    EXPECT_EQ(in, 2) << "the caller's count stays on a short offer";
    in = 8;
    gSeen.count = 0;
    ASSERT_EQ(FloatFrame::Decode(f.handle, 0, coded, &in, pcm, &cap), CODEC_OK);
    EXPECT_EQ(FloatFrame::CloseDecoder(f.handle), CODEC_OK);
}

TEST_F(CommonFrame, VariableRateDecodersCompareTheOfferAsARealNumber) {
    CodecFormat f{};
    ASSERT_EQ(SharedCloseFrame::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &f), CODEC_OK);
    const uint8_t coded[8] = {};
    uint8_t pcm[8];
    uint16_t in = 2, cap = 8; // 2 < 2.5
    EXPECT_EQ(SharedCloseFrame::Decode(f.handle, 0, coded, &in, pcm, &cap), CODEC_ERR_NEED_DATA);
    in = 3;
    EXPECT_EQ(SharedCloseFrame::Decode(f.handle, 0, coded, &in, pcm, &cap), CODEC_OK);
    EXPECT_EQ(SharedCloseFrame::CloseEither(f.handle), CODEC_OK);
}

TEST_F(CommonFrame, OneCloseServesBothDirections) {
    CodecFormat enc{}, dec{};
    ASSERT_EQ(SharedCloseFrame::OpenEncoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &enc), CODEC_OK);
    ASSERT_EQ(SharedCloseFrame::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &dec), CODEC_OK);
    EXPECT_EQ(gSeen.liveStates, 2);
    EXPECT_EQ(SharedCloseFrame::CloseEither(dec.handle), CODEC_OK);
    EXPECT_EQ(SharedCloseFrame::CloseEither(enc.handle), CODEC_OK);
    EXPECT_EQ(gSeen.liveStates, 0);
    EXPECT_EQ(SharedCloseFrame::CloseEither(nullptr), CODEC_ERR_HANDLE);
}

TEST_F(CommonFrame, AFailingEngineOpenLeavesNothingBehind) {
    gSeen.initResult = CODEC_ERR_MEMORY;
    CodecFormat f;
    std::memset(&f, 0x77, sizeof f);
    const CodecFormat before = f;
    EXPECT_EQ(FloatFrame::OpenEncoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &f), CODEC_ERR_MEMORY);
    EXPECT_EQ(FloatFrame::OpenDecoder(CODEC_FMT_PCM16_MONO_8KHZ, 0, &f), CODEC_ERR_MEMORY);
    EXPECT_EQ(std::memcmp(&f, &before, sizeof f), 0);
    EXPECT_EQ(gSeen.liveStates, 0);
    // (The sanitizer build checks that the refused blocks were freed.)
}

TEST(CHeader, RecordsHaveTheSameLayoutInC) {
    int format = 0, info = 0;
    vntr_c_header_record_sizes(&format, &info);
    EXPECT_EQ(format, static_cast<int>(sizeof(CodecFormat)));
    EXPECT_EQ(info, 124);
}

} // namespace
} // namespace vntr::frame
