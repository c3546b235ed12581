// VT4864v6 behind the common codec frame: the library's constants, mode
// table, registration records, and the per-call rate choice with its own
// output-capacity and input-size tests.
#pragma once

#include "decoder.hpp"
#include "encoder.hpp"

#include <vntr/codec_frame.hpp>

namespace vntr::vt4864v6 {

inline constexpr registration::Value kMachineValues[] = {
    {"Veltrane(TM)4864v6 Core Engine", "<WinDir>/VNTR/QBL/VT4864v6.so"},
    {"SDK Codec", ""},
};
inline constexpr registration::Value kUserValues[] = {
    {"Description", "Veltrane(TM)4864v6 Dual Bitrate Vocoder"},
    {"Selected", "YES"},
    {"Selected bitrate", "6400"},
};
inline constexpr registration::KeyRecord kRegistrationRecords[] = {
    {registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\VT4864v6", kMachineValues},
    {registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\VT4864v6", kUserValues},
};

constexpr int16_t kCodecIdVariable = 2026;
constexpr int16_t kCodecId4800 = 2027;
constexpr int16_t kCodecId6400 = 2028;
constexpr uint16_t kFrameBytes = 2 * kFrameLength;

struct Engine {
    static constexpr CodecInfo kInfo{
        .formatMask = CODEC_FMT_PCM16_MONO_8KHZ,
        .optionMask = CODEC_OPT_4800 | CODEC_OPT_6400,
        .version = 0x50014,
        .reserved0 = 0,
        .capabilityFlags = {1, 1, 1, 1},
        .reserved1 = 0,
        .description = "Veltrane(TM) 4864v6 Dual Bitrate Vocoder (4.8/6.4 kbps, 8 kHz)",
        .shortName = "VT4864v6",
    };
    static constexpr uint32_t kLibraryTag = 0x34383634u; // "4864"
    static constexpr frame::InputRule kInputRule = frame::InputRule::Variable;
    static constexpr bool kFloatSamples = false;
    static constexpr std::size_t kMaxFrameSamples = kFrameLength;
    static constexpr bool kOneCloseForBoth = false;
    static constexpr std::span<const registration::KeyRecord> kRegistration{kRegistrationRecords};

    struct EncoderState {
        vt4864v6::EncoderState coder;
    };
    struct DecoderState {
        vt4864v6::DecoderState coder;
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

} // namespace vntr::vt4864v6
