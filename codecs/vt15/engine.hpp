// VT15 behind the common codec frame: the library's constants, registration
// records and the per-call glue to the encoder and decoder.
#pragma once

#include "decoder.hpp"
#include "encoder.hpp"

#include <vntr/codec_frame.hpp>

namespace vntr::vt15 {

inline constexpr registration::Value kMachineValues[] = {
    {"Veltrane(TM)15 Core Engine", "<WinDir>/VNTR/QBL/VT15.so"},
    {"SDK Codec", ""},
    {"Embedded Codec", ""},
};
inline constexpr registration::Value kUserValues[] = {
    {"Description", "Veltrane(TM)15 Vocoder"},
    {"Selected", "YES"},
};
inline constexpr registration::KeyRecord kRegistrationRecords[] = {
    {registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\VT15", kMachineValues},
    {registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\VT15", kUserValues},
};

constexpr int16_t kCodecId = CODEC_ID_VT15;
constexpr uint16_t kFrameBytes = 2 * kFrameLength;

struct Engine {
    static constexpr CodecInfo kInfo{
        .formatMask = CODEC_FMT_PCM16_MONO_8KHZ,
        .optionMask = 0,
        .version = 0x50005,
        .reserved0 = 0,
        .capabilityFlags = {1, 1, 1, 1},
        .reserved1 = 0,
        .description = "Veltrane(TM) 15 Vocoder (1.5 kbps, 8 kHz)",
        .shortName = "VT15",
    };
    static constexpr uint32_t kLibraryTag = 0x31354D45u; // "15ME"
    static constexpr frame::InputRule kInputRule = frame::InputRule::Variable;
    static constexpr bool kFloatSamples = true;
    static constexpr std::size_t kMaxFrameSamples = kFrameLength;
    static constexpr bool kOneCloseForBoth = false;
    static constexpr std::span<const registration::KeyRecord> kRegistration{kRegistrationRecords};

    struct EncoderState {
        vt15::EncoderState coder;
    };
    struct DecoderState {
        vt15::DecoderState coder;
    };

    static CodecStatus SelectMode(uint32_t format, uint32_t options, CodecFormat &out);
    static CodecStatus InitEncoder(EncoderState &state, const CodecFormat &format, uint32_t formatWord,
                                   uint32_t options);
    static CodecStatus InitDecoder(DecoderState &state, const CodecFormat &format, uint32_t formatWord,
                                   uint32_t options);
    static CodecStatus EncodeFrame(EncoderState &state, const frame::EncodeCall<float> &call);
    static CodecStatus DecodeFrame(DecoderState &state, const frame::DecodeCall<float> &call);
    static CodecStatus CloseEncoderState(EncoderState &) { return CODEC_OK; }
    static CodecStatus CloseDecoderState(DecoderState &) { return CODEC_OK; }
};

static_assert(frame::CodecEngine<Engine>);

} // namespace vntr::vt15
