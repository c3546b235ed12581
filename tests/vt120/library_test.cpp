// The built shared library: its exports by name and by ordinal.
#include <vntr/codec_api.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <vector>

namespace {

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        handle_ = dlopen(VT120_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
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
    const char *names[] = {"vltr120_OpenEncoder",  "vltr120_Encode",       "vltr120_CloseEncoder",
                           "vltr120_OpenDecoder",  "vltr120_Decode",       "vltr120_CloseDecoder",
                           "vltr120_GetCodecInfo", "vltr120_GetCodecData", "vltr120_GetErrorString",
                           "DllRegisterServer",    "DllUnregisterServer"};
    for (int i = 0; i < CODEC_ORD_COUNT; ++i) {
        EXPECT_EQ(reinterpret_cast<void *>(table_->entry[i]), dlsym(handle_, names[i])) << names[i];
    }
    EXPECT_EQ(dlsym(handle_, "_ZN4vntr5vt12011DecodeFrameERNS0_12DecoderStateEPKhPfb"), nullptr);
}

TEST_F(Library, CodesAToneThroughTheOrdinals) {
    const uint32_t format = CODEC_FMT_PCM16_MONO_8KHZ;
    CodecFormat enc{}, dec{};
    ASSERT_EQ(Ordinal<CodecOpenFn>(CODEC_ORD_OPEN_ENCODER)(format, 0, &enc), CODEC_OK);
    ASSERT_EQ(Ordinal<CodecOpenFn>(CODEC_ORD_OPEN_DECODER)(format, 0, &dec), CODEC_OK);
    EXPECT_EQ(enc.codecId, 2041);
    EXPECT_EQ(enc.frameBytes, 128);
    EXPECT_EQ(enc.maxCodedBytes, 12);
    double in = 0, out = 0;
    for (int f = 0; f < 100; ++f) {
        int16_t pcm[64];
        for (int n = 0; n < 64; ++n) pcm[n] = static_cast<int16_t>(8000.0 * std::sin(0.2 * (f * 64 + n)));
        uint8_t coded[12];
        uint16_t inBytes = 128, cap = 12;
        ASSERT_EQ(Ordinal<CodecEncodeFn>(CODEC_ORD_ENCODE)(enc.handle, 0, pcm, &inBytes, coded, &cap), CODEC_OK);
        ASSERT_EQ(cap, 12);
        EXPECT_EQ(coded[0] & 31, 3);
        int16_t back[64];
        uint16_t n = 12, bytes = 128;
        ASSERT_EQ(Ordinal<CodecDecodeFn>(CODEC_ORD_DECODE)(dec.handle, 0, coded, &n, back, &bytes), CODEC_OK);
        if (f < 20) continue;
        for (int i = 0; i < 64; ++i) {
            in += static_cast<double>(pcm[i]) * pcm[i];
            out += static_cast<double>(back[i]) * back[i];
        }
    }
    EXPECT_NEAR(std::sqrt(out / in), 1.0, 0.2);
    EXPECT_EQ(Ordinal<CodecCloseFn>(CODEC_ORD_CLOSE_ENCODER)(enc.handle), CODEC_OK);
    EXPECT_EQ(Ordinal<CodecCloseFn>(CODEC_ORD_CLOSE_DECODER)(dec.handle), CODEC_OK);
}

} // namespace
