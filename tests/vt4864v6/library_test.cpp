// The built shared library: its exports by name and by ordinal.
#include <vntr/codec_api.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <vector>

namespace {

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(VT4864V6_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        table_ = static_cast<const CodecOrdinalTable *>(dlsym(handle_, CODEC_ORDINAL_TABLE_SYMBOL));
        ASSERT_NE(table_, nullptr);
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
};

TEST_F(Library, NamedExportsAreTheOrdinals) {
    EXPECT_EQ(table_->count, static_cast<uint32_t>(CODEC_ORD_COUNT));
    const char *names[] = {"vltr4864v6_OpenEncoder",  "vltr4864v6_Encode",       "vltr4864v6_CloseEncoder",
                           "vltr4864v6_OpenDecoder",  "vltr4864v6_Decode",       "vltr4864v6_CloseDecoder",
                           "vltr4864v6_GetCodecInfo", "vltr4864v6_GetCodecData", "vltr4864v6_GetErrorString",
                           "DllRegisterServer",       "DllUnregisterServer"};
    for (int i = 0; i < CODEC_ORD_COUNT; ++i) {
        EXPECT_EQ(reinterpret_cast<void *>(table_->entry[i]), dlsym(handle_, names[i])) << names[i];
    }
    // Only the interface is visible: no engine symbol leaks out.
    EXPECT_EQ(dlsym(handle_,
                    "_ZN4vntr8vt4864v611EncodeFrameERNS0_12EncoderStateEPKsRKNS0_8RateModeEPhPNS0_15EncoderObserverE"),
              nullptr);
}

TEST_F(Library, CodesAndDecodesAFrameThroughTheOrdinals) {
    const uint32_t format = CODEC_FMT_PCM16_MONO_8KHZ;
    CodecFormat enc{}, dec{};
    ASSERT_EQ(Ordinal<CodecOpenFn>(CODEC_ORD_OPEN_ENCODER)(format, 0, &enc), CODEC_OK);
    ASSERT_EQ(Ordinal<CodecOpenFn>(CODEC_ORD_OPEN_DECODER)(format, 0, &dec), CODEC_OK);
    EXPECT_EQ(enc.codecId, 2026);
    std::vector<int16_t> pcm(240);
    for (int n = 0; n < 240; ++n) pcm[static_cast<std::size_t>(n)] = static_cast<int16_t>((n % 40) * 200 - 4000);
    uint8_t coded[24];
    uint16_t in = 480, out = 24;
    ASSERT_EQ(Ordinal<CodecEncodeFn>(CODEC_ORD_ENCODE)(enc.handle, CODEC_OPT_4800, pcm.data(), &in, coded, &out),
              CODEC_OK);
    EXPECT_EQ(out, 18);
    int16_t back[240];
    uint16_t n = 18, pcmBytes = 480;
    ASSERT_EQ(Ordinal<CodecDecodeFn>(CODEC_ORD_DECODE)(dec.handle, 0, coded, &n, back, &pcmBytes), CODEC_OK);
    EXPECT_EQ(n, 18);
    EXPECT_EQ(Ordinal<CodecCloseFn>(CODEC_ORD_CLOSE_ENCODER)(enc.handle), CODEC_OK);
    EXPECT_EQ(Ordinal<CodecCloseFn>(CODEC_ORD_CLOSE_DECODER)(dec.handle), CODEC_OK);
    EXPECT_STREQ(Ordinal<CodecErrorStringFn>(CODEC_ORD_GET_ERROR_STRING)(11), " Need more data to proceed.");
}

} // namespace
