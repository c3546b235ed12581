// Binds the audio coder to the common codec frame. Each library supplies a
// Library type with its configuration and constants:
//   kConfig, kInfo, kMode (the CodecFormat of its single mode), kLibraryTag,
//   kRegistration.
#pragma once

#include "coder.h"

#include <vntr/codec_frame.hpp>

namespace vntr::audiocoder {

template <class Library>
struct Engine {
    static constexpr CodecInfo kInfo = Library::kInfo;
    static constexpr uint32_t kLibraryTag = Library::kLibraryTag;
    static constexpr frame::InputRule kInputRule = frame::InputRule::Variable;
    static constexpr bool kFloatSamples = false;
    static constexpr std::size_t kMaxFrameSamples = kFrameSamples;
    static constexpr bool kOneCloseForBoth = false;
    static constexpr auto kRegistration = Library::kRegistration;

    using EncoderState = audiocoder::EncoderState;
    using DecoderState = audiocoder::DecoderState;

    static CodecStatus SelectMode(uint32_t, uint32_t, CodecFormat &out) {
        const CodecFormat &m = Library::kMode;
        out.optionMask = m.optionMask;
        out.bitRate = m.bitRate;
        out.peakBitRate = m.peakBitRate;
        out.delaySamples = m.delaySamples;
        out.codecId = m.codecId;
        out.frameBytes = m.frameBytes;
        out.maxCodedBytes = m.maxCodedBytes;
        out.minCodedBytes = m.minCodedBytes;
        return CODEC_OK;
    }

    static CodecStatus InitEncoder(EncoderState &s, const CodecFormat &, uint32_t, uint32_t) {
        audiocoder::InitEncoder(s);
        return CODEC_OK;
    }
    static CodecStatus InitDecoder(DecoderState &s, const CodecFormat &, uint32_t, uint32_t) {
        audiocoder::InitDecoder(s);
        return CODEC_OK;
    }

    static CodecStatus EncodeFrame(EncoderState &s, const frame::EncodeCall<uint8_t> &call) {
        return audiocoder::EncodeFrame(Library::kConfig, s, call.in, call.inBytes, call.out, call.outBytes);
    }

    // A maximal frame that starts in the middle of a byte needs one byte more
    // than maxCodedBytes, so the engine admits that byte when it is offered.
    static CodecStatus DecodeFrame(DecoderState &s, const frame::DecodeCall<uint8_t> &call) {
        const uint16_t admitted = static_cast<uint16_t>(call.format.maxCodedBytes + 1);
        const uint16_t limit = call.offered < admitted ? call.offered : admitted;
        return audiocoder::DecodeFrame(Library::kConfig, s, call.in, limit, call.inBytes, call.out, call.outBytes);
    }

    static CodecStatus CloseEncoderState(EncoderState &) { return CODEC_OK; }
    static CodecStatus CloseDecoderState(DecoderState &) { return CODEC_OK; }
};

// Builds the two registration records of an audio coder library.
#define VNTR_AUDIOCODER_REGISTRATION(MODEL)                                                                            \
    static constexpr registration::Value kMachineValues[] = {                                                          \
        {"Veltrane(TM)" MODEL " Core Engine", "<WinDir>/VNTR/QBL/VT" MODEL ".so"},                                     \
        {"SDK Codec", ""},                                                                                             \
        {"Embedded Codec", ""}};                                                                                       \
    static constexpr registration::Value kUserValues[] = {{"Description", "Veltrane(TM)" MODEL " Audio Coder"},        \
                                                          {"Selected", "YES"}};                                        \
    static constexpr registration::KeyRecord kRegistrationRecords[] = {                                                \
        {registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\VT" MODEL, kMachineValues},                     \
        {registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\VT" MODEL, kUserValues}};                        \
    static constexpr std::span<const registration::KeyRecord> kRegistration {                                          \
        kRegistrationRecords                                                                                           \
    }

} // namespace vntr::audiocoder
