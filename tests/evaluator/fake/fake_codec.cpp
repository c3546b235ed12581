// A codec library for the evaluator's tests, with the behaviour set through
// its control block (fake_control.h).  Coded frames are one size byte and a
// payload whose first byte is the frame's number; the decoder turns frame n
// into PCM samples of value 16 * (n mod 256).
#include "fake_control.h"

#include <vntr/codec_api.h>
#include <vntr/registration.hpp>

#include <cstdlib>
#include <cstring>
#include <new>

#include <unistd.h>

#define FAKE_EXPORT __attribute__((visibility("default")))
#define STR2(x) #x
#define STR(x) STR2(x)
#define FAKE_NAME_TEXT STR(FAKE_NAME)

extern "C" {
FAKE_EXPORT FakeControl fake_control;
}

namespace {

struct State {
    CodecFormat format;
    bool encoder;
    uint32_t frames;
    uint16_t callsWithoutAByte; // on the current coded frame
};

FakeControl &C() {
    return fake_control;
}

// The counters are shared by every handle: a corpus run calls the library
// from several threads at once.
int32_t Count(int32_t &counter) {
    return __atomic_fetch_add(&counter, 1, __ATOMIC_RELAXED);
}

CodecStatus FillData(uint32_t format, uint32_t options, CodecFormat *out) {
    if (out == nullptr) return CODEC_ERR_POINTER;
    if ((options & ~C().infoOptionMask) != 0) return CODEC_ERR_OPTION;
    if (format == 0 || (format & ~C().formatMask) != 0) return CODEC_ERR_FORMAT;
    int16_t id = C().codecId;
    if (options == 0x10000) id = static_cast<int16_t>(id + 1);
    if (options == 0x20000) id = static_cast<int16_t>(id + 2);
    if (options == 0x30000) return CODEC_ERR_OPTION;
    out->optionMask = 0;
    out->bitRate = C().bitRate;
    out->peakBitRate = C().bitRate;
    out->delaySamples = 0;
    out->codecId = id;
    out->frameBytes = C().frameBytes;
    out->maxCodedBytes = C().maxCodedBytes;
    out->minCodedBytes = C().minCodedBytes;
    return CODEC_OK;
}

State *Live(CodecHandle h, bool encoder) {
    auto *s = static_cast<State *>(h);
    if (s == nullptr || s->format.handle != h || s->encoder != encoder) return nullptr;
    return s;
}

CodecStatus Open(bool encoder, uint32_t format, uint32_t options, CodecFormat *out) {
    const int32_t forced = encoder ? C().openEncoderStatus : C().openDecoderStatus;
    if (forced != 0) return forced;
    if (out == nullptr) return CODEC_ERR_POINTER;
    auto *s = new (std::nothrow) State{};
    if (s == nullptr) return CODEC_ERR_MEMORY;
    if (const CodecStatus st = FillData(format, options, &s->format); st != CODEC_OK) {
        delete s;
        return st;
    }
    s->encoder = encoder;
    s->format.handle = s;
    std::memcpy(out, &s->format, sizeof *out);
    if (encoder) {
        Count(C().encoderOpens);
        C().openedFormat = format;
        C().openedOptions = options;
    } else {
        Count(C().decoderOpens);
        C().decoderOptions = options;
    }
    return CODEC_OK;
}

CodecStatus Close(CodecHandle h, bool encoder) {
    State *s = Live(h, encoder);
    if (s == nullptr) return CODEC_ERR_HANDLE;
    s->format.handle = nullptr;
    delete s;
    Count(encoder ? C().encoderCloses : C().decoderCloses);
    return C().closeStatus;
}

} // namespace

extern "C" {

FAKE_EXPORT void fake_reset(void) {
    std::memset(&fake_control, 0, sizeof fake_control);
    C().formatMask = CODEC_FMT_PCM16_MONO_8KHZ;
    C().codecId = 2041;
    C().frameBytes = 320;
    C().maxCodedBytes = 12;
    C().minCodedBytes = 2.0f;
    C().bitRate = 4800;
    C().minFrame = 2;
    C().maxFrame = 12;
    C().encodeFailAt = -1;
    C().decodeFailAt = -1;
}

// Loaded by a program rather than by a test: behave by default, fail to
// open the encoder when FAKE_FAIL_ENCODER names this library, take
// FAKE_FRAME_DELAY_US microseconds over every encoded frame and offer the
// options of FAKE_OPTION_MASK when they are set.
__attribute__((constructor)) static void fake_load(void) {
    fake_reset();
    const char *failing = std::getenv("FAKE_FAIL_ENCODER");
    if (failing != nullptr && std::strcmp(failing, FAKE_NAME_TEXT) == 0) C().openEncoderStatus = CODEC_ERR_FORMAT;
    if (const char *delay = std::getenv("FAKE_FRAME_DELAY_US"))
        C().frameDelayUs = static_cast<uint32_t>(std::atoi(delay));
    // FAKE_OPTION_MASK offers options (0x30001: both rates and voice activity).
    if (const char *mask = std::getenv("FAKE_OPTION_MASK"))
        C().infoOptionMask = static_cast<uint32_t>(std::strtoul(mask, nullptr, 0));
}

FAKE_EXPORT CodecStatus fake_OpenEncoder(uint32_t format, uint32_t options, CodecFormat *out) {
    return Open(true, format, options, out);
}

FAKE_EXPORT CodecStatus fake_Encode(CodecHandle h, uint32_t, const void *in, uint16_t *inBytes, uint8_t *out,
                                    uint16_t *outBytes) {
    State *s = Live(h, true);
    if (s == nullptr) return CODEC_ERR_HANDLE;
    if (in == nullptr || inBytes == nullptr || out == nullptr || outBytes == nullptr) return CODEC_ERR_POINTER;
    const int32_t call = Count(C().encodeCalls);
    if (C().frameDelayUs != 0) usleep(C().frameDelayUs);
    if (call == C().encodeFailAt) return C().encodeFailStatus;
    if (*outBytes < s->format.maxCodedBytes) return CODEC_ERR_ARGUMENT;
    if (*inBytes == CODEC_END_OF_STREAM) {
        Count(C().flushCalls);
        std::memset(out, 0xFF, C().flushBytes);
        *outBytes = C().flushBytes;
        *inBytes = 0;
        return CODEC_OK;
    }
    if (*inBytes < s->format.frameBytes) return CODEC_ERR_NEED_DATA;
    const uint16_t span = static_cast<uint16_t>(C().maxFrame - C().minFrame + 1);
    const auto size = static_cast<uint16_t>(C().minFrame + s->frames % span);
    std::memset(out, 0, size);
    out[0] = static_cast<uint8_t>(size);
    if (size > 1) out[1] = static_cast<uint8_t>(s->frames);
    ++s->frames;
    *inBytes = s->format.frameBytes;
    *outBytes = C().encodeOverclaim != 0 ? static_cast<uint16_t>(s->format.maxCodedBytes + 5) : size;
    return CODEC_OK;
}

FAKE_EXPORT CodecStatus fake_CloseEncoder(CodecHandle h) {
    return Close(h, true);
}

FAKE_EXPORT CodecStatus fake_OpenDecoder(uint32_t format, uint32_t options, CodecFormat *out) {
    return Open(false, format, options, out);
}

FAKE_EXPORT CodecStatus fake_Decode(CodecHandle h, uint32_t, const uint8_t *in, uint16_t *inBytes, void *out,
                                    uint16_t *outBytes) {
    State *s = Live(h, false);
    if (s == nullptr) return CODEC_ERR_HANDLE;
    if (in == nullptr || inBytes == nullptr || out == nullptr || outBytes == nullptr) return CODEC_ERR_POINTER;
    const int32_t call = Count(C().decodeCalls);
    if (const int32_t slot = Count(C().offerCount); slot < FAKE_MAX_RECORDED) {
        C().offers[slot] = *inBytes;
    } else {
        __atomic_store_n(&C().offerCount, FAKE_MAX_RECORDED, __ATOMIC_RELAXED);
    }
    if (call == C().decodeFailAt) return C().decodeFailStatus;
    if (*outBytes < s->format.frameBytes) return CODEC_ERR_ARGUMENT;
    const uint16_t offered = *inBytes;
    // A frame is its size byte and payload; a flush tail of 0xFF bytes is skipped whole.
    if (offered == 0 || in[0] == 0xFF || in[0] == 0 || in[0] > offered) {
        Count(C().needDataReturns);
        return CODEC_ERR_NEED_DATA;
    }
    if (C().decodeIdle != 0) {
        *inBytes = 0;
        *outBytes = 0;
        return CODEC_OK;
    }
    const uint8_t size = in[0];
    const auto value = static_cast<int16_t>(16 * (size > 1 ? in[1] : 0));
    auto *pcm = static_cast<uint8_t *>(out);
    for (uint16_t i = 0; i + 1 < s->format.frameBytes; i += 2) {
        pcm[i] = static_cast<uint8_t>(value & 0xFF);
        pcm[i + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
    }
    if (s->callsWithoutAByte < C().decodeCallsWithoutAByte) {
        ++s->callsWithoutAByte;
        *inBytes = 0;
    } else {
        s->callsWithoutAByte = 0;
        *inBytes = size;
    }
    *outBytes = s->format.frameBytes;
    return CODEC_OK;
}

FAKE_EXPORT CodecStatus fake_CloseDecoder(CodecHandle h) {
    return Close(h, false);
}

FAKE_EXPORT CodecStatus fake_GetCodecInfo(CodecInfo *out) {
    if (C().infoStatus != 0) return C().infoStatus;
    if (out == nullptr) return CODEC_ERR_POINTER;
    std::memset(out, 0, sizeof *out);
    out->formatMask = C().formatMask;
    out->optionMask = C().infoOptionMask;
    out->version = 0x50001;
    std::strcpy(out->description, "Fake codec " FAKE_NAME_TEXT);
    std::strncpy(out->shortName, FAKE_NAME_TEXT, sizeof out->shortName - 1);
    return CODEC_OK;
}

FAKE_EXPORT CodecStatus fake_GetCodecData(uint32_t, uint32_t format, uint32_t options, CodecFormat *out) {
    CodecFormat scratch{};
    if (out != nullptr) std::memcpy(&scratch, out, sizeof scratch);
    const CodecStatus s = FillData(format, options, &scratch);
    if (s == CODEC_OK) std::memcpy(out, &scratch, sizeof scratch);
    return s;
}

FAKE_EXPORT const char *fake_GetErrorString(CodecStatus status) {
    switch (status) {
    case CODEC_ERR_GENERAL:
        return " Something went wrong.";
    case CODEC_ERR_MEMORY:
        return " Memory allocation error.";
    case CODEC_ERR_FORMAT:
        return " Format not supported.";
    case CODEC_ERR_OPTION:
        return " Option not supported.";
    case CODEC_ERR_NEED_DATA:
        return " Need more data to proceed.";
    default:
        return "Unknown error";
    }
}

static constexpr vntr::registration::Value kMachineValues[] = {
    {"Fake " FAKE_NAME_TEXT " Core Engine", "<WinDir>/VNTR/QBL/" FAKE_NAME_TEXT ".so"}, {"SDK Codec", ""}};
static constexpr vntr::registration::Value kUserValues[] = {{"Description", "Fake codec " FAKE_NAME_TEXT},
                                                            {"Selected", "YES"}};
static constexpr vntr::registration::KeyRecord kRecords[] = {
    {vntr::registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\" FAKE_NAME_TEXT, kMachineValues},
    {vntr::registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\" FAKE_NAME_TEXT, kUserValues}};

FAKE_EXPORT int32_t DllRegisterServer(void) {
    return vntr::registration::Register(kRecords);
}
FAKE_EXPORT int32_t DllUnregisterServer(void) {
    return vntr::registration::Unregister(kRecords);
}

// Not const: a test may empty an entry to stand for a missing export.
FAKE_EXPORT CodecOrdinalTable vntr_ordinals = {
    CODEC_ORD_COUNT,
    {reinterpret_cast<CodecAnyFn>(&fake_OpenEncoder), reinterpret_cast<CodecAnyFn>(&fake_Encode),
     reinterpret_cast<CodecAnyFn>(&fake_CloseEncoder), reinterpret_cast<CodecAnyFn>(&fake_OpenDecoder),
     reinterpret_cast<CodecAnyFn>(&fake_Decode), reinterpret_cast<CodecAnyFn>(&fake_CloseDecoder),
     reinterpret_cast<CodecAnyFn>(&fake_GetCodecInfo), reinterpret_cast<CodecAnyFn>(&fake_GetCodecData),
     reinterpret_cast<CodecAnyFn>(&fake_GetErrorString), reinterpret_cast<CodecAnyFn>(&DllRegisterServer),
     reinterpret_cast<CodecAnyFn>(&DllUnregisterServer)}};

} // extern "C"
