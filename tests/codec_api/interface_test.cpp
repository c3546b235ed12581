// The common interface, run against every built codec library through its
// ordinal table: sane calls are accepted, insane ones refused in the fixed
// order of checks with their write-backs, and nothing blows up.
#include "codec_expectations.hpp"
#include "peer_expectations.hpp"
#include "test_paths.hpp"

#include <vntr/codec_binding.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

namespace vntr::test {
namespace {

class CodecInterface : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        expect_ = nullptr;
        for (const auto *list : {&AllLibraryExpectations(), &PeerLibraryExpectations()})
            for (const auto &e : *list)
                if (e.shortName == GetParam()) expect_ = &e;
        ASSERT_NE(expect_, nullptr) << "no expectations for " << GetParam();
        lib_ = std::make_unique<CodecBinding>(CodecLibraryPath(GetParam()));
    }

    const ModeExpectation &mode() const { return expect_->modes[0]; }

    CodecFormat OpenEncoder() {
        CodecFormat f{};
        EXPECT_EQ(lib_->openEncoder(mode().format, mode().options, &f), CODEC_OK);
        return f;
    }
    CodecFormat OpenDecoder() {
        CodecFormat f{};
        EXPECT_EQ(lib_->openDecoder(mode().format, mode().options, &f), CODEC_OK);
        return f;
    }

    static void ExpectMode(const CodecFormat &f, const ModeExpectation &m) {
        EXPECT_EQ(f.codecId, m.codecId);
        EXPECT_EQ(f.frameBytes, m.frameBytes);
        EXPECT_EQ(f.maxCodedBytes, m.maxCodedBytes);
        EXPECT_FLOAT_EQ(f.minCodedBytes, m.minCodedBytes);
        EXPECT_EQ(f.bitRate, m.bitRate);
        EXPECT_EQ(f.peakBitRate, m.peakBitRate);
        EXPECT_EQ(f.delaySamples, m.delaySamples);
        EXPECT_EQ(f.optionMask, m.optionMask);
    }

    const LibraryExpectation *expect_ = nullptr;
    std::unique_ptr<CodecBinding> lib_;
};

TEST_P(CodecInterface, NamedExportsAreTheOrdinals) {
    const std::string p = expect_->prefix;
    const char *suffix[] = {"_OpenEncoder",  "_Encode",       "_CloseEncoder", "_OpenDecoder",   "_Decode",
                            "_CloseDecoder", "_GetCodecInfo", "_GetCodecData", "_GetErrorString"};
    for (int ordinal = 1; ordinal <= 9; ++ordinal) {
        void *named = lib_->Symbol((p + suffix[ordinal - 1]).c_str());
        ASSERT_NE(named, nullptr) << p << suffix[ordinal - 1];
        if (ordinal == CODEC_ORD_CLOSE_DECODER && expect_->oneCloseForBoth)
            EXPECT_EQ(reinterpret_cast<void *>(lib_->Ordinal(ordinal)),
                      reinterpret_cast<void *>(lib_->Ordinal(CODEC_ORD_CLOSE_ENCODER)));
        else
            EXPECT_EQ(reinterpret_cast<void *>(lib_->Ordinal(ordinal)), named) << "ordinal " << ordinal;
    }
    EXPECT_EQ(reinterpret_cast<void *>(lib_->Ordinal(10)), lib_->Symbol("DllRegisterServer"));
    EXPECT_EQ(reinterpret_cast<void *>(lib_->Ordinal(11)), lib_->Symbol("DllUnregisterServer"));
}

TEST_P(CodecInterface, CodecInfoIsWrittenUpToTheTerminatingZeros) {
    EXPECT_EQ(lib_->getCodecInfo(nullptr), CODEC_ERR_POINTER);
    CodecInfo info;
    std::memset(&info, 0xAB, sizeof info);
    ASSERT_EQ(lib_->getCodecInfo(&info), CODEC_OK);
    EXPECT_EQ(info.formatMask, expect_->formatMask);
    EXPECT_EQ(info.optionMask, expect_->optionMask);
    EXPECT_EQ(info.version, expect_->version);
    EXPECT_EQ(info.reserved0, 0u);
    EXPECT_EQ(info.reserved1, 0u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(info.capabilityFlags[i], expect_->capabilityFlags[i]);
    EXPECT_EQ(std::string(info.description), expect_->description);
    EXPECT_EQ(std::string(info.shortName), expect_->shortName);
    // The caller's bytes behind each terminating zero stay as they were.
    for (std::size_t i = expect_->description.size() + 1; i < sizeof info.description; ++i)
        EXPECT_EQ(static_cast<uint8_t>(info.description[i]), 0xAB) << i;
    for (std::size_t i = expect_->shortName.size() + 1; i < sizeof info.shortName; ++i)
        EXPECT_EQ(static_cast<uint8_t>(info.shortName[i]), 0xAB) << i;
}

TEST_P(CodecInterface, CodecDataChecksPointerThenOptionsThenFormat) {
    CodecFormat f{};
    EXPECT_EQ(lib_->getCodecData(1, 0, 0x40000000u, nullptr), CODEC_ERR_POINTER);
    // Options are refused before the format is looked at.
    EXPECT_EQ(lib_->getCodecData(1, 0, 0x40000000u, &f), CODEC_ERR_OPTION);
    if (expect_->optionMask == 0) EXPECT_EQ(lib_->getCodecData(1, mode().format, 1, &f), CODEC_ERR_OPTION);
    EXPECT_EQ(lib_->getCodecData(1, 0, 0, &f), CODEC_ERR_FORMAT);
    EXPECT_EQ(lib_->getCodecData(1, mode().format | CODEC_FMT_STEREO, 0, &f), CODEC_ERR_FORMAT);
    const uint32_t otherRate = (mode().format & CODEC_FMT_48KHZ) ? CODEC_FMT_8KHZ : CODEC_FMT_48KHZ;
    EXPECT_EQ(lib_->getCodecData(1, (mode().format & ~CODEC_FMT_RATE_MASK) | otherRate, 0, &f), CODEC_ERR_FORMAT);
}

TEST_P(CodecInterface, CodecDataFillsEveryModeButNeverTheHandle) {
    for (const ModeExpectation &m : expect_->modes) {
        for (uint32_t direction : {CODEC_DIRECTION_DECODER, CODEC_DIRECTION_ENCODER}) {
            CodecFormat f{};
            int marker = 0;
            f.handle = &marker;
            ASSERT_EQ(lib_->getCodecData(direction, m.format, m.options, &f), CODEC_OK);
            EXPECT_EQ(f.handle, &marker);
            ExpectMode(f, m);
        }
    }
}

TEST_P(CodecInterface, OpenReturnsTheSelfTaggedFormatAndRefusesBadArguments) {
    CodecFormat untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    for (CodecOpenFn open : {lib_->openEncoder, lib_->openDecoder}) {
        EXPECT_EQ(open(mode().format, mode().options, nullptr), CODEC_ERR_POINTER);
        CodecFormat f = untouched;
        EXPECT_EQ(open(0, 0, &f), CODEC_ERR_FORMAT);
        EXPECT_EQ(open(mode().format, 0x40000000u, &f), CODEC_ERR_OPTION);
        EXPECT_EQ(std::memcmp(&f, &untouched, sizeof f), 0) << "a failed open must not write the caller's record";
    }
    for (const ModeExpectation &m : expect_->modes) {
        CodecFormat enc{}, dec{};
        ASSERT_EQ(lib_->openEncoder(m.format, m.options, &enc), CODEC_OK);
        ASSERT_EQ(lib_->openDecoder(m.format, m.options, &dec), CODEC_OK);
        EXPECT_NE(enc.handle, nullptr);
        EXPECT_NE(enc.handle, dec.handle);
        ExpectMode(enc, m);
        ExpectMode(dec, m);
        EXPECT_EQ(lib_->closeEncoder(enc.handle), CODEC_OK);
        EXPECT_EQ(lib_->closeDecoder(dec.handle), CODEC_OK);
    }
}

TEST_P(CodecInterface, EncodeChecksInOrderWithWriteBacks) {
    const CodecFormat f = OpenEncoder();
    std::vector<uint8_t> pcm(f.frameBytes, 0), out(f.maxCodedBytes + 8u);
    uint16_t in = f.frameBytes, cap = f.maxCodedBytes;

    // Handle before pointers.
    EXPECT_EQ(lib_->encode(nullptr, 0, nullptr, nullptr, nullptr, nullptr), CODEC_ERR_HANDLE);
    EXPECT_EQ(lib_->encode(f.handle, 0, nullptr, &in, out.data(), &cap), CODEC_ERR_POINTER);
    EXPECT_EQ(lib_->encode(f.handle, 0, pcm.data(), nullptr, out.data(), &cap), CODEC_ERR_POINTER);
    EXPECT_EQ(lib_->encode(f.handle, 0, pcm.data(), &in, nullptr, &cap), CODEC_ERR_POINTER);
    EXPECT_EQ(lib_->encode(f.handle, 0, pcm.data(), &in, out.data(), nullptr), CODEC_ERR_POINTER);

    // Capacity before input: too small a capacity and too little input give 4 and the needed size.
    in = static_cast<uint16_t>(f.frameBytes - 1);
    cap = static_cast<uint16_t>(f.maxCodedBytes - 1);
    EXPECT_EQ(lib_->encode(f.handle, 0, pcm.data(), &in, out.data(), &cap), CODEC_ERR_ARGUMENT);
    EXPECT_EQ(cap, f.maxCodedBytes);
    EXPECT_EQ(in, f.frameBytes - 1) << "the input count is not written before the capacity passes";

    // Too little input: 11, with the frame size written back.
    cap = f.maxCodedBytes;
    EXPECT_EQ(lib_->encode(f.handle, 0, pcm.data(), &in, out.data(), &cap), CODEC_ERR_NEED_DATA);
    EXPECT_EQ(in, f.frameBytes);
    EXPECT_EQ(cap, f.maxCodedBytes);

    // Flags outside the open option mask come after the size checks.
    const uint32_t badFlag = 0x40000000u;
    in = static_cast<uint16_t>(f.frameBytes - 1);
    EXPECT_EQ(lib_->encode(f.handle, badFlag, pcm.data(), &in, out.data(), &cap), CODEC_ERR_NEED_DATA);
    in = f.frameBytes;
    EXPECT_EQ(lib_->encode(f.handle, badFlag, pcm.data(), &in, out.data(), &cap), CODEC_ERR_OPTION);

    // A whole frame, offered with room to spare, consumes exactly one frame.
    in = static_cast<uint16_t>(f.frameBytes + 100);
    pcm.resize(in);
    cap = static_cast<uint16_t>(out.size());
    EXPECT_EQ(lib_->encode(f.handle, 0, pcm.data(), &in, out.data(), &cap), CODEC_OK);
    EXPECT_EQ(in, f.frameBytes);
    EXPECT_LE(cap, f.maxCodedBytes);

    // The end-of-stream count skips the input check in every library.
    in = CODEC_END_OF_STREAM;
    cap = f.maxCodedBytes;
    EXPECT_EQ(lib_->encode(f.handle, 0, pcm.data(), &in, out.data(), &cap), CODEC_OK);
    EXPECT_LE(cap, f.maxCodedBytes);
    EXPECT_EQ(lib_->closeEncoder(f.handle), CODEC_OK);
}

TEST_P(CodecInterface, DecodeChecksInOrderWithWriteBacks) {
    // One frame of the library's own making, since not every codec takes any
    // bytes as a frame (the peers' libraries refuse damaged packets).
    std::vector<uint8_t> coded;
    {
        const CodecFormat e = OpenEncoder();
        std::vector<uint8_t> silence(e.frameBytes, 0);
        uint16_t in = e.frameBytes, cap = e.maxCodedBytes;
        coded.assign(e.maxCodedBytes + 8u, 0);
        ASSERT_EQ(lib_->encode(e.handle, 0, silence.data(), &in, coded.data(), &cap), CODEC_OK);
        EXPECT_EQ(lib_->closeEncoder(e.handle), CODEC_OK);
    }
    const CodecFormat f = OpenDecoder();
    std::vector<uint8_t> pcm(f.frameBytes);
    uint16_t in = f.maxCodedBytes, cap = f.frameBytes;

    EXPECT_EQ(lib_->decode(nullptr, 0, coded.data(), &in, pcm.data(), &cap), CODEC_ERR_HANDLE);
    EXPECT_EQ(lib_->decode(f.handle, 0, nullptr, &in, pcm.data(), &cap), CODEC_ERR_POINTER);
    EXPECT_EQ(lib_->decode(f.handle, 0, coded.data(), nullptr, pcm.data(), &cap), CODEC_ERR_POINTER);
    EXPECT_EQ(lib_->decode(f.handle, 0, coded.data(), &in, nullptr, &cap), CODEC_ERR_POINTER);
    EXPECT_EQ(lib_->decode(f.handle, 0, coded.data(), &in, pcm.data(), nullptr), CODEC_ERR_POINTER);

    cap = static_cast<uint16_t>(f.frameBytes - 1);
    in = 0;
    EXPECT_EQ(lib_->decode(f.handle, 0, coded.data(), &in, pcm.data(), &cap), CODEC_ERR_ARGUMENT);
    EXPECT_EQ(cap, f.frameBytes);
    EXPECT_EQ(in, 0u);

    // Too few bytes: 11, and the caller's count stays.
    const uint16_t tooFew = expect_->variableRate ? static_cast<uint16_t>(std::ceil(f.minCodedBytes) - 1)
                                                  : static_cast<uint16_t>(f.maxCodedBytes - 1);
    in = tooFew;
    EXPECT_EQ(lib_->decode(f.handle, 0, coded.data(), &in, pcm.data(), &cap), CODEC_ERR_NEED_DATA);
    EXPECT_EQ(in, tooFew);
    EXPECT_EQ(cap, f.frameBytes);

    in = f.maxCodedBytes;
    EXPECT_EQ(lib_->decode(f.handle, 0x40000000u, coded.data(), &in, pcm.data(), &cap), CODEC_ERR_OPTION);

    // An offer beyond the largest frame is taken as the largest frame: never more is consumed.
    in = static_cast<uint16_t>(f.maxCodedBytes + 8);
    EXPECT_EQ(lib_->decode(f.handle, 0, coded.data(), &in, pcm.data(), &cap), CODEC_OK);
    EXPECT_LE(in, f.maxCodedBytes);
    EXPECT_EQ(cap, f.frameBytes);
    EXPECT_EQ(lib_->closeDecoder(f.handle), CODEC_OK);
}

TEST_P(CodecInterface, ForeignAndCrossedHandlesAreRefused) {
    const CodecFormat enc = OpenEncoder();
    const CodecFormat dec = OpenDecoder();
    std::vector<uint8_t> pcm(enc.frameBytes), coded(enc.maxCodedBytes + 8u);
    uint16_t in = enc.frameBytes, cap = enc.maxCodedBytes;

    // A block of readable memory that carries its own address everywhere: the
    // self-tag alone would take it, the magic word does not.
    alignas(16) static void *fake[512];
    for (void *&slot : fake) slot = fake;
    EXPECT_EQ(lib_->encode(fake, 0, pcm.data(), &in, coded.data(), &cap), CODEC_ERR_HANDLE);
    EXPECT_EQ(lib_->decode(fake, 0, coded.data(), &in, pcm.data(), &cap), CODEC_ERR_HANDLE);
    EXPECT_EQ(lib_->closeEncoder(fake), CODEC_ERR_HANDLE);
    EXPECT_EQ(lib_->closeDecoder(fake), CODEC_ERR_HANDLE);
    EXPECT_EQ(lib_->closeEncoder(nullptr), CODEC_ERR_HANDLE);
    EXPECT_EQ(lib_->closeDecoder(nullptr), CODEC_ERR_HANDLE);

    // An encoder's handle is not a decoder's and the other way round.
    in = enc.maxCodedBytes;
    cap = enc.frameBytes;
    EXPECT_EQ(lib_->decode(enc.handle, 0, coded.data(), &in, pcm.data(), &cap), CODEC_ERR_HANDLE);
    in = enc.frameBytes;
    cap = enc.maxCodedBytes;
    EXPECT_EQ(lib_->encode(dec.handle, 0, pcm.data(), &in, coded.data(), &cap), CODEC_ERR_HANDLE);
    if (!expect_->oneCloseForBoth) {
        EXPECT_EQ(lib_->closeDecoder(enc.handle), CODEC_ERR_HANDLE);
        EXPECT_EQ(lib_->closeEncoder(dec.handle), CODEC_ERR_HANDLE);
    }
    EXPECT_EQ(lib_->closeEncoder(enc.handle), CODEC_OK);
    EXPECT_EQ(lib_->closeDecoder(dec.handle), CODEC_OK);
}

TEST_P(CodecInterface, ErrorStringsBeginWithABlankAndEndAtTheSentinel) {
    const char *texts[] = {" Function terminated succesfully.",
                           " Something went wrong.",
                           " Invalid handle passed to function.",
                           " Invalid pointer passed to function.",
                           " Bad argument passed to function.",
                           " Memory allocation error.",
                           " Functionality not supported.",
                           " Functionality not yet implemented.",
                           " Busy.",
                           " Format not supported.",
                           " Option not supported.",
                           " Need more data to proceed."};
    for (int code = 0; code <= 11; ++code) EXPECT_STREQ(lib_->getErrorString(code), texts[code]) << code;
    for (int code : {12, 13, 1000, -1, -1000})
        EXPECT_STREQ(lib_->getErrorString(code), "Unknown error") << "the sentinel text is never returned";
}

// Encodes a tone frame by frame (with the flush where the codec holds samples
// back) and decodes the stream the way callers do: a buffer of up to
// maxCodedBytes, the unconsumed tail moved to the front and topped up.
TEST_P(CodecInterface, EveryEncodedFrameDecodes) {
    for (const ModeExpectation &m : expect_->modes) {
        CodecFormat enc{}, dec{};
        ASSERT_EQ(lib_->openEncoder(m.format, m.options, &enc), CODEC_OK);
        ASSERT_EQ(lib_->openDecoder(m.format, m.options, &dec), CODEC_OK);
        const bool eightBit = (m.format & CODEC_FMT_8BIT) != 0;
        const int frames = 7;
        const int samplesPerFrame = eightBit ? m.frameBytes : m.frameBytes / 2;
        std::vector<uint8_t> pcm(static_cast<std::size_t>(m.frameBytes) * frames);
        for (int n = 0; n < samplesPerFrame * frames; ++n) {
            const double x = 0.25 * std::sin(2 * std::numbers::pi * 0.0371 * n) + 0.1 * std::sin(0.61 * n);
            if (eightBit) {
                pcm[static_cast<std::size_t>(n)] = static_cast<uint8_t>(128 + std::lround(127 * x));
            } else {
                const auto s = static_cast<int16_t>(std::lround(32767 * x));
                std::memcpy(&pcm[2 * static_cast<std::size_t>(n)], &s, 2);
            }
        }
        std::vector<uint8_t> stream;
        std::vector<uint8_t> out(enc.maxCodedBytes);
        for (int i = 0; i < frames; ++i) {
            uint16_t in = m.frameBytes, cap = enc.maxCodedBytes;
            ASSERT_EQ(
                lib_->encode(enc.handle, 0, &pcm[static_cast<std::size_t>(i) * m.frameBytes], &in, out.data(), &cap),
                CODEC_OK);
            stream.insert(stream.end(), out.begin(), out.begin() + cap);
        }
        if (CodecNeedsFlush(m.codecId) != 0) {
            uint16_t in = CODEC_END_OF_STREAM, cap = enc.maxCodedBytes;
            ASSERT_EQ(lib_->encode(enc.handle, 0, pcm.data(), &in, out.data(), &cap), CODEC_OK);
            stream.insert(stream.end(), out.begin(), out.begin() + cap);
        }
        EXPECT_EQ(lib_->closeEncoder(enc.handle), CODEC_OK);

        // VT15 codes one frame behind its input and the flush codes the last:
        // one coded frame more than frames in.
        const int expected = m.codecId == CODEC_ID_VT15 || m.codecId == CODEC_ID_VT15_HQ ? frames + 1 : frames;
        int decoded = 0;
        std::size_t pos = 0;
        std::vector<uint8_t> pcmOut(dec.frameBytes);
        for (;;) {
            const std::size_t left = stream.size() - pos;
            uint16_t in = static_cast<uint16_t>(std::min<std::size_t>(left, dec.maxCodedBytes));
            std::vector<uint8_t> offer(stream.begin() + static_cast<std::ptrdiff_t>(pos),
                                       stream.begin() + static_cast<std::ptrdiff_t>(pos + in));
            offer.reserve(1); // an empty offer still needs a valid pointer, or Decode answers 3
            uint16_t cap = dec.frameBytes;
            const CodecStatus st = lib_->decode(dec.handle, 0, offer.data(), &in, pcmOut.data(), &cap);
            if (st == CODEC_ERR_NEED_DATA) break;
            ASSERT_EQ(st, CODEC_OK);
            ASSERT_EQ(cap, dec.frameBytes);
            pos += in;
            ++decoded;
            ASSERT_LE(decoded, expected) << "more frames decoded than were encoded";
        }
        EXPECT_EQ(decoded, expected) << "codec id " << m.codecId;
        EXPECT_EQ(lib_->closeDecoder(dec.handle), CODEC_OK);
    }
}

INSTANTIATE_TEST_SUITE_P(AllLibraries, CodecInterface, ::testing::ValuesIn(BuiltCodecLibraries()),
                         [](const auto &param) { return TestNameOf(param.param); });

TEST(CodecInterfaceAcrossLibraries, AHandleOfOneLibraryIsRefusedByAnother) {
    const auto names = BuiltCodecLibraries();
    if (names.size() < 2) GTEST_SKIP() << "needs two libraries";
    CodecBinding a(CodecLibraryPath(names[0])), b(CodecLibraryPath(names[1]));
    CodecInfo infoA{};
    ASSERT_EQ(a.getCodecInfo(&infoA), CODEC_OK);
    const uint32_t format = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_16BIT | (infoA.formatMask & CODEC_FMT_RATE_MASK);
    CodecFormat enc{};
    ASSERT_EQ(a.openEncoder(format, 0, &enc), CODEC_OK);
    std::vector<uint8_t> pcm(enc.frameBytes + 4096u), out(enc.maxCodedBytes + 4096u);
    uint16_t in = CODEC_END_OF_STREAM, cap = static_cast<uint16_t>(out.size());
    EXPECT_EQ(b.encode(enc.handle, 0, pcm.data(), &in, out.data(), &cap), CODEC_ERR_HANDLE);
    EXPECT_EQ(b.closeEncoder(enc.handle), CODEC_ERR_HANDLE);
    EXPECT_EQ(a.closeEncoder(enc.handle), CODEC_OK);
}

} // namespace
} // namespace vntr::test
