// VT120 behind the common codec frame: the library's constants, its one
// mode, its registration records, and the per-call drivers on float samples.
#pragma once

#include "decoder.hpp"
#include "encoder.hpp"

#include <vntr/codec_frame.hpp>

namespace vntr::vt120 {

inline constexpr registration::Value kMachineValues[] = {
    {"Veltrane(TM)120 Core Engine", "<WinDir>/VNTR/QBL/VT120.so"},
    {"SDK Codec", ""},
};
inline constexpr registration::Value kUserValues[] = {
    {"Description", "Veltrane(TM)120 Vocoder"},
    {"Selected", "YES"},
};
inline constexpr registration::KeyRecord kRegistrationRecords[] = {
    {registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\VT120", kMachineValues},
    {registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\VT120", kUserValues},
};

constexpr int16_t kCodecId = 2041;
constexpr uint16_t kFrameBytes = 2 * kFrameLength;

struct Engine {
    static constexpr CodecInfo kInfo{
        .formatMask = CODEC_FMT_PCM16_MONO_8KHZ,
        .optionMask = 0,
        .version = 0x5000F,
        .reserved0 = 0,
        .capabilityFlags = {0, 1, 1, 1},
        .reserved1 = 0,
        .description = "Veltrane(TM) 120 Vocoder (12 kbps, 8 kHz)",
        .shortName = "VT120",
    };
    static constexpr uint32_t kLibraryTag = 0x30323156u; // "V120"
    static constexpr frame::InputRule kInputRule = frame::InputRule::Fixed;
    static constexpr bool kFloatSamples = true;
    static constexpr std::size_t kMaxFrameSamples = kFrameLength;
    static constexpr bool kOneCloseForBoth = false;
    static constexpr std::span<const registration::KeyRecord> kRegistration{kRegistrationRecords};

    struct EncoderState {
        vt120::EncoderState coder;
    };
    struct DecoderState {
        vt120::DecoderState coder;
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

} // namespace vntr::vt120
