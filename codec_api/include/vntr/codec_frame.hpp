// The frame that every codec library wraps around its engine: argument checks
// in their fixed order with their write-backs, the handle block with its
// self-tag, the open/close lifecycle, GetCodecInfo, GetCodecData and the
// sample conversion of the float engines.
//
// A library describes itself with an engine type E (see `CodecEngine` below)
// and instantiates the exports with VNTR_DEFINE_CODEC_EXPORTS(prefix, E).
#pragma once

#include <vntr/codec_api.h>
#include <vntr/registration.hpp>

#include <array>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <new>
#include <span>
#include <type_traits>

#if defined(__SSE2__) && !defined(VNTR_PLAIN_KERNELS)
#include <emmintrin.h>
#endif

#define VNTR_EXPORT __attribute__((visibility("default")))

namespace vntr::frame {

// How Decode checks the offered byte count before the engine runs.
enum class InputRule {
    Fixed,    // fewer than maxCodedBytes: 11; otherwise exactly maxCodedBytes
    Variable, // clamp to maxCodedBytes; below minCodedBytes: 11
};

// What one Encode call hands the engine (after the frame's checks).
template <class Sample>
struct EncodeCall {
    CodecFormat &format; // the format filled at open (an engine whose coded size varies per frame
                         // may update maxCodedBytes)
    uint32_t flags;      // per-call option flags (already checked)
    const Sample *in;    // one frame, or unused on the end-of-stream call
    uint16_t *inBytes;   // frameBytes (samples for float engines), or CODEC_END_OF_STREAM
    uint8_t *out;        // coded bytes
    uint16_t *outBytes;  // in: maxCodedBytes; out: bytes written
    uint16_t capacity;   // the capacity the caller passed in
};

// What one Decode call hands the engine.
template <class Sample>
struct DecodeCall {
    const CodecFormat &format;
    uint32_t flags;
    const uint8_t *in;
    uint16_t *inBytes; // in: the offer after the frame's clamp; out: bytes consumed
    uint16_t offered;  // the count the caller passed in, before the clamp
    Sample *out;       // frameBytes of PCM (samples for float engines)
    uint16_t *outBytes;
};

// The float engines get their samples as floats on the 16-bit scale; the
// others see the caller's PCM bytes.
template <bool FloatSamples>
using EngineSample = std::conditional_t<FloatSamples, float, uint8_t>;

template <class E>
concept CodecEngine = requires {
    { E::kInfo } -> std::convertible_to<CodecInfo>;
    { E::kLibraryTag } -> std::convertible_to<uint32_t>;
    { E::kInputRule } -> std::convertible_to<InputRule>;
    { E::kFloatSamples } -> std::convertible_to<bool>;
    { E::kMaxFrameSamples } -> std::convertible_to<std::size_t>;
    typename E::EncoderState;
    typename E::DecoderState;
}
&&requires(uint32_t word, CodecFormat &fmt, typename E::EncoderState &enc, typename E::DecoderState &dec,
           const EncodeCall<EngineSample<E::kFloatSamples>> &encodeCall,
           const DecodeCall<EngineSample<E::kFloatSamples>> &decodeCall) {
    // The library's mode table, after the common option and format checks.
    { E::SelectMode(word, word, fmt) } -> std::same_as<CodecStatus>;
    { E::InitEncoder(enc, fmt, word, word) } -> std::same_as<CodecStatus>;
    { E::InitDecoder(dec, fmt, word, word) } -> std::same_as<CodecStatus>;
    { E::EncodeFrame(enc, encodeCall) } -> std::same_as<CodecStatus>;
    { E::DecodeFrame(dec, decodeCall) } -> std::same_as<CodecStatus>;
    { E::CloseEncoderState(enc) } -> std::same_as<CodecStatus>;
    { E::CloseDecoderState(dec) } -> std::same_as<CodecStatus>;
    { E::kRegistration } -> std::convertible_to<std::span<const registration::KeyRecord>>;
};

// Shared pieces that do not depend on the engine.
const char *ErrorString(CodecStatus status);
// Float sample in, 16-bit PCM out: x + 0.5 truncated toward zero, saturated
// (inline: the float engines' decoders run it on every sample).
inline int16_t FloatToPcm16(float x) {
    const float rounded = std::trunc(x + 0.5f);
    if (!(rounded <= 32767.0f)) return rounded != rounded ? 0 : 32767; // NaN gives silence
    if (rounded < -32768.0f) return -32768;
    return static_cast<int16_t>(rounded);
}

// FloatToPcm16 over a block, into little-endian 16-bit samples.  With SSE2
// four at a time: a NaN masked to 0, x + 0.5 held within -32768..32767 (a
// value beyond truncates to the same bound as FloatToPcm16 saturates to) and
// truncated toward zero: every sample as FloatToPcm16 gives it.
inline void FloatsToPcm16(const float *x, std::size_t count, uint8_t *out) {
    std::size_t i = 0;
#if defined(__SSE2__) && !defined(VNTR_PLAIN_KERNELS)
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    for (; i + 4 <= count; i += 4) {
        __m128 r = _mm_add_ps(_mm_loadu_ps(x + i), half);
        r = _mm_and_ps(r, _mm_cmpord_ps(r, r));
        r = _mm_min_ps(_mm_max_ps(r, low), high);
        const __m128i v = _mm_cvttps_epi32(r);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 2 * i), _mm_packs_epi32(v, v));
    }
#endif
    for (; i < count; ++i) {
        const int16_t s = FloatToPcm16(x[i]);
        std::memcpy(out + 2 * i, &s, 2);
    }
}

// The handle block: a magic word naming the library and direction, the
// embedded CodecFormat whose handle field points back at the block (the
// self-tag), and the engine's state (which keeps what it needs of the format
// word given at open).
template <class State, std::size_t ScratchSamples>
struct HandleBlock {
    uint32_t magic;
    CodecFormat format;
    State state;
    // Per-call conversion buffer of the float engines, kept in the block so
    // that a frame never allocates.
    std::array<float, ScratchSamples> scratch;
};

constexpr uint32_t kEncoderMagic = 0x454E4300u; // "ENC"
constexpr uint32_t kDecoderMagic = 0x44454300u; // "DEC"
constexpr uint32_t kDeadMagic = 0xDEADC0DEu;

template <CodecEngine E>
class Frame {
    static constexpr std::size_t kScratch = E::kFloatSamples ? E::kMaxFrameSamples : 1;
    using EncoderBlock = HandleBlock<typename E::EncoderState, kScratch>;
    using DecoderBlock = HandleBlock<typename E::DecoderState, kScratch>;
    using Sample = EngineSample<E::kFloatSamples>;

    static constexpr uint32_t MagicOf(uint32_t direction) { return E::kLibraryTag ^ direction; }

    // Recognises a live handle of this library and direction: the magic word
    // first (which refuses most stale or foreign pointers), then the self-tag.
    template <class Block>
    static Block *Recognise(CodecHandle handle, uint32_t directionMagic) {
        if (handle == nullptr) return nullptr;
        auto *block = static_cast<Block *>(handle);
        if (block->magic != MagicOf(directionMagic)) return nullptr;
        if (block->format.handle != handle) return nullptr;
        return block;
    }

    template <class Block, class Init>
    static CodecStatus Open(uint32_t direction, uint32_t directionMagic, uint32_t format, uint32_t options,
                            CodecFormat *out, Init init) {
        if (out == nullptr) return CODEC_ERR_POINTER;
        auto *block = new (std::nothrow) Block{};
        if (block == nullptr) return CODEC_ERR_MEMORY;
        CodecStatus status = GetCodecData(direction, format, options, &block->format);
        if (status == CODEC_OK) status = init(block->state, block->format, format, options);
        if (status != CODEC_OK) {
            delete block;
            return status;
        }
        block->magic = MagicOf(directionMagic);
        block->format.handle = block;
        std::memcpy(out, &block->format, sizeof(CodecFormat));
        return CODEC_OK;
    }

    template <class Block, class Cleanup>
    static CodecStatus Close(CodecHandle handle, uint32_t directionMagic, Cleanup cleanup) {
        Block *block = Recognise<Block>(handle, directionMagic);
        if (block == nullptr) return CODEC_ERR_HANDLE;
        const CodecStatus status = cleanup(block->state);
        block->magic = kDeadMagic;
        block->format.handle = nullptr;
        delete block;
        return status;
    }

public:
    static CodecStatus GetCodecInfo(CodecInfo *out) {
        if (out == nullptr) return CODEC_ERR_POINTER;
        static constexpr CodecInfo info = E::kInfo;
        out->formatMask = info.formatMask;
        out->optionMask = info.optionMask;
        out->version = info.version;
        out->reserved0 = 0;
        std::memcpy(out->capabilityFlags, info.capabilityFlags, sizeof(info.capabilityFlags));
        out->reserved1 = 0;
        // Only up to and including the terminating zero: the caller's bytes behind it stay.
        std::memcpy(out->description, info.description, std::strlen(info.description) + 1);
        std::memcpy(out->shortName, info.shortName, std::strlen(info.shortName) + 1);
        return CODEC_OK;
    }

    static CodecStatus GetCodecData(uint32_t /*direction*/, uint32_t format, uint32_t options, CodecFormat *out) {
        if (out == nullptr) return CODEC_ERR_POINTER;
        if ((options & ~E::kInfo.optionMask) != 0) return CODEC_ERR_OPTION;
        if (format == 0 || (format & ~E::kInfo.formatMask) != 0) return CODEC_ERR_FORMAT;
        // The mode table writes into a copy so that a refused mode leaves *out alone.
        CodecFormat chosen;
        std::memcpy(&chosen, out, sizeof chosen);
        const CodecStatus status = E::SelectMode(format, options, chosen);
        if (status != CODEC_OK) return status;
        chosen.handle = out->handle; // never written here
        std::memcpy(out, &chosen, sizeof chosen);
        return CODEC_OK;
    }

    static CodecStatus OpenEncoder(uint32_t format, uint32_t options, CodecFormat *out) {
        return Open<EncoderBlock>(CODEC_DIRECTION_ENCODER, kEncoderMagic, format, options, out,
                                  [](auto &state, const CodecFormat &fmt, uint32_t fw, uint32_t opt) {
                                      return E::InitEncoder(state, fmt, fw, opt);
                                  });
    }

    static CodecStatus OpenDecoder(uint32_t format, uint32_t options, CodecFormat *out) {
        return Open<DecoderBlock>(CODEC_DIRECTION_DECODER, kDecoderMagic, format, options, out,
                                  [](auto &state, const CodecFormat &fmt, uint32_t fw, uint32_t opt) {
                                      return E::InitDecoder(state, fmt, fw, opt);
                                  });
    }

    static CodecStatus Encode(CodecHandle handle, uint32_t flags, const void *in, uint16_t *inBytes, uint8_t *out,
                              uint16_t *outBytes) {
        EncoderBlock *block = Recognise<EncoderBlock>(handle, kEncoderMagic);
        if (block == nullptr) return CODEC_ERR_HANDLE;
        if (in == nullptr || inBytes == nullptr || out == nullptr || outBytes == nullptr) return CODEC_ERR_POINTER;
        CodecFormat &fmt = block->format;
        const uint16_t capacity = *outBytes;
        *outBytes = fmt.maxCodedBytes;
        if (capacity < fmt.maxCodedBytes) return CODEC_ERR_ARGUMENT;
        const bool endOfStream = *inBytes == CODEC_END_OF_STREAM;
        if (!endOfStream) {
            const uint16_t offered = *inBytes;
            *inBytes = fmt.frameBytes;
            if (offered < fmt.frameBytes) return CODEC_ERR_NEED_DATA;
        }
        if ((flags & ~fmt.optionMask) != 0) return CODEC_ERR_OPTION;

        if constexpr (E::kFloatSamples) {
            const auto *pcm = static_cast<const uint8_t *>(in);
            const bool frame = !endOfStream;
            if (frame) {
                *inBytes = static_cast<uint16_t>(*inBytes / 2);
                for (uint16_t i = 0; i < *inBytes; ++i) {
                    int16_t s;
                    std::memcpy(&s, pcm + 2 * i, 2);
                    block->scratch[i] = static_cast<float>(s);
                }
            }
            const CodecStatus status = E::EncodeFrame(
                block->state, EncodeCall<float>{fmt, flags, block->scratch.data(), inBytes, out, outBytes, capacity});
            if (frame) *inBytes = static_cast<uint16_t>(*inBytes * 2);
            return status;
        } else {
            return E::EncodeFrame(block->state, EncodeCall<uint8_t>{fmt, flags, static_cast<const uint8_t *>(in),
                                                                    inBytes, out, outBytes, capacity});
        }
    }

    static CodecStatus Decode(CodecHandle handle, uint32_t flags, const uint8_t *in, uint16_t *inBytes, void *out,
                              uint16_t *outBytes) {
        DecoderBlock *block = Recognise<DecoderBlock>(handle, kDecoderMagic);
        if (block == nullptr) return CODEC_ERR_HANDLE;
        if (in == nullptr || inBytes == nullptr || out == nullptr || outBytes == nullptr) return CODEC_ERR_POINTER;
        const CodecFormat &fmt = block->format;
        const uint16_t capacity = *outBytes;
        *outBytes = fmt.frameBytes;
        if (capacity < fmt.frameBytes) return CODEC_ERR_ARGUMENT;
        const uint16_t offered = *inBytes;
        if constexpr (E::kInputRule == InputRule::Fixed) {
            if (offered < fmt.maxCodedBytes) return CODEC_ERR_NEED_DATA;
            *inBytes = fmt.maxCodedBytes;
        } else {
            if (offered > fmt.maxCodedBytes) {
                *inBytes = fmt.maxCodedBytes;
            } else if (static_cast<float>(offered) < fmt.minCodedBytes) {
                return CODEC_ERR_NEED_DATA;
            }
        }
        if ((flags & ~fmt.optionMask) != 0) return CODEC_ERR_OPTION;

        if constexpr (E::kFloatSamples) {
            *outBytes = static_cast<uint16_t>(*outBytes / 2);
            const CodecStatus status = E::DecodeFrame(
                block->state, DecodeCall<float>{fmt, flags, in, inBytes, offered, block->scratch.data(), outBytes});
            if (status != CODEC_OK) {
                *outBytes = static_cast<uint16_t>(*outBytes * 2);
                return status;
            }
            FloatsToPcm16(block->scratch.data(), *outBytes, static_cast<uint8_t *>(out));
            *outBytes = static_cast<uint16_t>(*outBytes * 2);
            return status;
        } else {
            return E::DecodeFrame(block->state, DecodeCall<uint8_t>{fmt, flags, in, inBytes, offered,
                                                                    static_cast<uint8_t *>(out), outBytes});
        }
    }

    static CodecStatus CloseEncoder(CodecHandle handle) {
        return Close<EncoderBlock>(handle, kEncoderMagic, [](auto &state) { return E::CloseEncoderState(state); });
    }

    static CodecStatus CloseDecoder(CodecHandle handle) {
        return Close<DecoderBlock>(handle, kDecoderMagic, [](auto &state) { return E::CloseDecoderState(state); });
    }

    // One close for both directions, for libraries that export a single one.
    static CodecStatus CloseEither(CodecHandle handle) {
        if (Recognise<EncoderBlock>(handle, kEncoderMagic) != nullptr) return CloseEncoder(handle);
        return CloseDecoder(handle);
    }
};

} // namespace vntr::frame

// Defines the library's named exports and its ordinal table.
#define VNTR_DEFINE_CODEC_EXPORTS(PREFIX, ENGINE)                                                                      \
    extern "C" {                                                                                                       \
    VNTR_EXPORT CodecStatus PREFIX##_OpenEncoder(uint32_t format, uint32_t options, CodecFormat *out) {                \
        return ::vntr::frame::Frame<ENGINE>::OpenEncoder(format, options, out);                                        \
    }                                                                                                                  \
    VNTR_EXPORT CodecStatus PREFIX##_Encode(CodecHandle h, uint32_t flags, const void *in, uint16_t *inBytes,          \
                                            uint8_t *out, uint16_t *outBytes) {                                        \
        return ::vntr::frame::Frame<ENGINE>::Encode(h, flags, in, inBytes, out, outBytes);                             \
    }                                                                                                                  \
    VNTR_EXPORT CodecStatus PREFIX##_CloseEncoder(CodecHandle h) {                                                     \
        return ENGINE::kOneCloseForBoth ? ::vntr::frame::Frame<ENGINE>::CloseEither(h)                                 \
                                        : ::vntr::frame::Frame<ENGINE>::CloseEncoder(h);                               \
    }                                                                                                                  \
    VNTR_EXPORT CodecStatus PREFIX##_OpenDecoder(uint32_t format, uint32_t options, CodecFormat *out) {                \
        return ::vntr::frame::Frame<ENGINE>::OpenDecoder(format, options, out);                                        \
    }                                                                                                                  \
    VNTR_EXPORT CodecStatus PREFIX##_Decode(CodecHandle h, uint32_t flags, const uint8_t *in, uint16_t *inBytes,       \
                                            void *out, uint16_t *outBytes) {                                           \
        return ::vntr::frame::Frame<ENGINE>::Decode(h, flags, in, inBytes, out, outBytes);                             \
    }                                                                                                                  \
    VNTR_EXPORT CodecStatus PREFIX##_CloseDecoder(CodecHandle h) {                                                     \
        return ENGINE::kOneCloseForBoth ? ::vntr::frame::Frame<ENGINE>::CloseEither(h)                                 \
                                        : ::vntr::frame::Frame<ENGINE>::CloseDecoder(h);                               \
    }                                                                                                                  \
    VNTR_EXPORT CodecStatus PREFIX##_GetCodecInfo(CodecInfo *out) {                                                    \
        return ::vntr::frame::Frame<ENGINE>::GetCodecInfo(out);                                                        \
    }                                                                                                                  \
    VNTR_EXPORT CodecStatus PREFIX##_GetCodecData(uint32_t direction, uint32_t format, uint32_t options,               \
                                                  CodecFormat *out) {                                                  \
        return ::vntr::frame::Frame<ENGINE>::GetCodecData(direction, format, options, out);                            \
    }                                                                                                                  \
    VNTR_EXPORT const char *PREFIX##_GetErrorString(CodecStatus status) {                                              \
        return ::vntr::frame::ErrorString(status);                                                                     \
    }                                                                                                                  \
    VNTR_EXPORT int32_t DllRegisterServer(void) {                                                                      \
        return ::vntr::registration::Register(ENGINE::kRegistration);                                                  \
    }                                                                                                                  \
    VNTR_EXPORT int32_t DllUnregisterServer(void) {                                                                    \
        return ::vntr::registration::Unregister(ENGINE::kRegistration);                                                \
    }                                                                                                                  \
    VNTR_EXPORT extern const CodecOrdinalTable vntr_ordinals;                                                          \
    const CodecOrdinalTable vntr_ordinals = {                                                                          \
        CODEC_ORD_COUNT,                                                                                               \
        {reinterpret_cast<CodecAnyFn>(&PREFIX##_OpenEncoder), reinterpret_cast<CodecAnyFn>(&PREFIX##_Encode),          \
         reinterpret_cast<CodecAnyFn>(&PREFIX##_CloseEncoder), reinterpret_cast<CodecAnyFn>(&PREFIX##_OpenDecoder),    \
         reinterpret_cast<CodecAnyFn>(&PREFIX##_Decode),                                                               \
         ENGINE::kOneCloseForBoth ? reinterpret_cast<CodecAnyFn>(&PREFIX##_CloseEncoder)                               \
                                  : reinterpret_cast<CodecAnyFn>(&PREFIX##_CloseDecoder),                              \
         reinterpret_cast<CodecAnyFn>(&PREFIX##_GetCodecInfo), reinterpret_cast<CodecAnyFn>(&PREFIX##_GetCodecData),   \
         reinterpret_cast<CodecAnyFn>(&PREFIX##_GetErrorString), reinterpret_cast<CodecAnyFn>(&DllRegisterServer),     \
         reinterpret_cast<CodecAnyFn>(&DllUnregisterServer)}};                                                         \
    }
