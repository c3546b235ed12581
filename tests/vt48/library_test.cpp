// The built shared library: its one close for both directions, its choice of
// sample width, and that only the interface is visible.
#include <vntr/codec_api.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <vector>

namespace {

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(VT48_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        table_ = static_cast<const CodecOrdinalTable *>(dlsym(handle_, CODEC_ORDINAL_TABLE_SYMBOL));
        ASSERT_NE(table_, nullptr);
        openEncoder_ = Ordinal<CodecOpenFn>(CODEC_ORD_OPEN_ENCODER);
        openDecoder_ = Ordinal<CodecOpenFn>(CODEC_ORD_OPEN_DECODER);
        getData_ = Ordinal<CodecGetDataFn>(CODEC_ORD_GET_CODEC_DATA);
    }
    void TearDown() override {
        if (handle_) dlclose(handle_);
    }
    template <class Fn>
    Fn Ordinal(int n) const {
        return reinterpret_cast<Fn>(table_->entry[n - 1]);
    }
    void *handle_ = nullptr;
    const CodecOrdinalTable *table_ = nullptr;
    CodecOpenFn openEncoder_ = nullptr;
    CodecOpenFn openDecoder_ = nullptr;
    CodecGetDataFn getData_ = nullptr;
};

TEST_F(Library, OneCloseServesBothDirections) {
    EXPECT_EQ(table_->entry[CODEC_ORD_CLOSE_ENCODER - 1], table_->entry[CODEC_ORD_CLOSE_DECODER - 1]);
    EXPECT_EQ(reinterpret_cast<void *>(table_->entry[CODEC_ORD_CLOSE_DECODER - 1]),
              dlsym(handle_, "vltr48_CloseEncoder"));
    const auto closeByEncoderName = reinterpret_cast<CodecCloseFn>(dlsym(handle_, "vltr48_CloseEncoder"));
    const auto closeByDecoderName = reinterpret_cast<CodecCloseFn>(dlsym(handle_, "vltr48_CloseDecoder"));
    ASSERT_NE(closeByDecoderName, nullptr);
    const uint32_t format = CODEC_FMT_PCM16_MONO_8KHZ;
    // Each kind of handle closes through either name, once (the sanitizer build sees a leak or a double free).
    for (CodecCloseFn close : {closeByEncoderName, closeByDecoderName}) {
        CodecFormat enc{}, dec{};
        ASSERT_EQ(openEncoder_(format, 0, &enc), CODEC_OK);
        ASSERT_EQ(openDecoder_(format, 0, &dec), CODEC_OK);
        EXPECT_EQ(close(dec.handle), CODEC_OK);
        EXPECT_EQ(close(enc.handle), CODEC_OK);
    }
    // Anything else is refused.
    std::vector<uint8_t> junk(4096, 0x5A);
    EXPECT_EQ(closeByEncoderName(junk.data()), CODEC_ERR_HANDLE);
    EXPECT_EQ(closeByDecoderName(nullptr), CODEC_ERR_HANDLE);
}

TEST_F(Library, TheSampleWidthComesFromTheLowBitsOfTheFormat) {
    CodecFormat f{};
    ASSERT_EQ(getData_(1, 0x11102, 0, &f), CODEC_OK);
    EXPECT_EQ(f.frameBytes, 160);
    EXPECT_EQ(f.codecId, 2020);
    ASSERT_EQ(getData_(0, CODEC_FMT_PCM16_MONO_8KHZ, 0, &f), CODEC_OK);
    EXPECT_EQ(f.frameBytes, 320);
    EXPECT_EQ(getData_(1, 0x13102, 0, &f), CODEC_ERR_FORMAT); // both widths
    EXPECT_EQ(getData_(1, 0x10102, 0, &f), CODEC_ERR_FORMAT); // no width
    EXPECT_EQ(getData_(1, 0x11100, 0, &f), CODEC_ERR_FORMAT); // not PCM
    EXPECT_EQ(getData_(1, 0x12002, 0, &f), CODEC_ERR_FORMAT); // no channel
    EXPECT_EQ(getData_(1, 0x2102, 0, &f), CODEC_OK);          // the rate is not part of the test
    EXPECT_EQ(getData_(1, CODEC_FMT_PCM16_MONO_8KHZ, 1, &f), CODEC_ERR_OPTION);
    CodecFormat e{};
    EXPECT_EQ(openEncoder_(0x13102, 0, &e), CODEC_ERR_FORMAT);
}

TEST_F(Library, EightBitHandlesTakeAndGiveOneBytePerSample) {
    const auto encode = Ordinal<CodecEncodeFn>(CODEC_ORD_ENCODE);
    const auto decode = Ordinal<CodecDecodeFn>(CODEC_ORD_DECODE);
    const auto close = Ordinal<CodecCloseFn>(CODEC_ORD_CLOSE_ENCODER);
    CodecFormat enc{}, dec{};
    ASSERT_EQ(openEncoder_(0x11102, 0, &enc), CODEC_OK);
    ASSERT_EQ(openDecoder_(0x11102, 0, &dec), CODEC_OK);
    uint8_t pcm[160];
    for (int n = 0; n < 160; ++n) pcm[n] = static_cast<uint8_t>(128 + ((n * 37) % 60) - 30);
    uint8_t coded[12];
    uint16_t in = 159, out = 12;
    EXPECT_EQ(encode(enc.handle, 0, pcm, &in, coded, &out), CODEC_ERR_NEED_DATA);
    EXPECT_EQ(in, 160);
    in = 160;
    out = 12;
    ASSERT_EQ(encode(enc.handle, 0, pcm, &in, coded, &out), CODEC_OK);
    EXPECT_EQ(out, 12);
    uint8_t back[160];
    uint16_t n = 12, pcmBytes = 159;
    EXPECT_EQ(decode(dec.handle, 0, coded, &n, back, &pcmBytes), CODEC_ERR_ARGUMENT);
    EXPECT_EQ(pcmBytes, 160);
    n = 40; // more than a frame: exactly 12 are taken
    ASSERT_EQ(decode(dec.handle, 0, coded, &n, back, &pcmBytes), CODEC_OK);
    EXPECT_EQ(n, 12);
    EXPECT_EQ(pcmBytes, 160);
    EXPECT_EQ(close(enc.handle), CODEC_OK);
    EXPECT_EQ(close(dec.handle), CODEC_OK);
}

TEST_F(Library, OnlyTheInterfaceIsExported) {
    EXPECT_EQ(dlsym(handle_, "_ZN4vntr4vt4811DecodeFrameERNS0_12DecoderStateEPKhPs"), nullptr);
    EXPECT_NE(dlsym(handle_, "DllRegisterServer"), nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(table_->entry[CODEC_ORD_REGISTER_SERVER - 1]),
              dlsym(handle_, "DllRegisterServer"));
}

} // namespace
