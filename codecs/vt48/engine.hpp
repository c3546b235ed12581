// VT48 behind the common codec frame: the library's constants, its mode
// table (8- or 16-bit PCM chosen at open), the registration records, and one
// close function for both directions.
#pragma once

#include "decoder.hpp"
#include "encoder.hpp"

#include <vntr/codec_frame.hpp>

namespace vntr::vt48 {

inline constexpr registration::Value kMachineValues[] = {
    {"Veltrane(TM)48 Core Engine", "<WinDir>/VNTR/QBL/VT48.so"},
    {"SDK Codec", ""},
    {"Embedded Codec", ""},
};
inline constexpr registration::Value kUserValues[] = {
    {"Description", "Veltrane(TM)48 Vocoder"},
    {"Selected", "YES"},
};
inline constexpr registration::KeyRecord kRegistrationRecords[] = {
    {registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\VT48", kMachineValues},
    {registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\VT48", kUserValues},
};

constexpr int16_t kCodecId = 2020;
constexpr uint32_t kFormat8Bit = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_8BIT; // 0x1102
constexpr uint32_t kFormat16Bit = CODEC_FMT_PCM16_MONO;                           // 0x2102

struct Engine {
    static constexpr CodecInfo kInfo{
        .formatMask = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_8BIT | CODEC_FMT_16BIT | CODEC_FMT_8KHZ,
        .optionMask = 0,
        .version = 0x50005,
        .reserved0 = 0,
        .capabilityFlags = {0, 1, 1, 1},
        .reserved1 = 0,
        .description = "Veltrane(TM) 48 Vocoder (4.8 kbps, 8 kHz)",
        .shortName = "VT48",
    };
    static constexpr uint32_t kLibraryTag = 0x56543438u; // "VT48"
    static constexpr frame::InputRule kInputRule = frame::InputRule::Fixed;
    static constexpr bool kFloatSamples = false;
    static constexpr std::size_t kMaxFrameSamples = kFrameLength;
    static constexpr bool kOneCloseForBoth = true;
    static constexpr std::span<const registration::KeyRecord> kRegistration{kRegistrationRecords};

    struct EncoderState {
        vt48::EncoderState coder;
    };
    struct DecoderState {
        bool eightBit;
        vt48::DecoderState coder;
    };

    static CodecStatus SelectMode(uint32_t format, uint32_t options, CodecFormat &out);
    static CodecStatus InitEncoder(EncoderState &state, const CodecFormat &format, uint32_t formatWord,
                                   uint32_t options);
    static CodecStatus InitDecoder(DecoderState &state, const CodecFormat &format, uint32_t formatWord,
                                   uint32_t options);
    static CodecStatus EncodeFrame(EncoderState &state, const frame::EncodeCall<uint8_t> &call);
    static CodecStatus DecodeFrame(DecoderState &state, const frame::DecodeCall<uint8_t> &call);
    static CodecStatus CloseEncoderState(EncoderState &) { return CODEC_OK; }
    static CodecStatus CloseDecoderState(DecoderState &) { return CODEC_OK; }
};

static_assert(frame::CodecEngine<Engine>);

} // namespace vntr::vt48
