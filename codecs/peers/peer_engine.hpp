// One engine for every peer library: the common codec frame around a standard
// codec that a system library implements. A peer library is a mode type M:
//   using Codec = ...;                         the adapter of that library (below)
//   static constexpr PeerMode kMode{...};      codec id, frame, coded size, rate, delay, setting
//   VNTR_PEER_LIBRARY(name, version, description, reference);   its CodecInfo and registration
// and the library's exports are VNTR_PEER_EXPORTS(prefix, PeerEngine<M>).
//
// An adapter wraps one system library:
//   struct Encoder, struct Decoder             the library's state, as pointers
//   OpenEncoder(Encoder &, const PeerMode &)   (and OpenDecoder): leave nothing behind on failure
//   Encode(Encoder &, const PeerMode &, int16_t *pcm, uint8_t *out)   one frame, exactly codedBytes
//   Decode(Decoder &, const PeerMode &, const uint8_t *in, int16_t *pcm)   exactly frameSamples
//   CloseEncoder(Encoder &), CloseDecoder(Decoder &)
// and turns every error return of its library into a status code.
#pragma once

#include <vntr/codec_frame.hpp>

#include <cstring>

namespace vntr::peers {

// Every peer codes 16-bit mono PCM at 8000 Hz into frames of one fixed size.
inline constexpr uint32_t kPeerFormatMask = CODEC_FMT_PCM16_MONO_8KHZ;
inline constexpr int kSampleRate = 8000;

struct PeerMode {
    int16_t codecId;
    uint16_t frameSamples;
    uint16_t codedBytes;
    uint32_t bitRate;
    uint32_t delaySamples; // how far the decoded speech lags the input
    int setting;           // the library's own name for the mode (a bit rate, a quality, a mode number)
};

// The CodecInfo of a peer: its name is the library's file stem and registry
// subkey, so it has to fit the record's 10 bytes.
template <std::size_t D, std::size_t N>
constexpr CodecInfo PeerInfo(uint32_t version, const char (&description)[D], const char (&name)[N]) {
    static_assert(D <= sizeof(CodecInfo::description), "description too long for CodecInfo");
    static_assert(N <= sizeof(CodecInfo::shortName), "name too long for CodecInfo");
    CodecInfo info{};
    info.formatMask = kPeerFormatMask;
    info.optionMask = 0;
    info.version = version;
    // Fixed-rate codecs, flagged as the suite's fixed-rate libraries are.
    info.capabilityFlags[0] = 0;
    info.capabilityFlags[1] = info.capabilityFlags[2] = info.capabilityFlags[3] = 1;
    for (std::size_t i = 0; i < D; ++i) info.description[i] = description[i];
    for (std::size_t i = 0; i < N; ++i) info.shortName[i] = name[i];
    return info;
}

// A version word from major and minor.
constexpr uint32_t VersionWord(uint32_t major, uint32_t minor) {
    return major << 16 | (minor & 0xFFFFu);
}

template <class M>
struct PeerEngine {
    using Codec = typename M::Codec;
    static constexpr PeerMode kMode = M::kMode;

    static constexpr CodecInfo kInfo = M::kInfo;
    static constexpr uint32_t kLibraryTag = 0x50450000u | static_cast<uint16_t>(kMode.codecId); // "PE" + id
    static constexpr frame::InputRule kInputRule = frame::InputRule::Fixed;
    static constexpr bool kFloatSamples = false;
    static constexpr std::size_t kMaxFrameSamples = kMode.frameSamples;
    static constexpr bool kOneCloseForBoth = false;
    static constexpr std::span<const registration::KeyRecord> kRegistration = M::kRegistration;

    using EncoderState = typename Codec::Encoder;
    using DecoderState = typename Codec::Decoder;

    static CodecStatus SelectMode(uint32_t, uint32_t, CodecFormat &out) {
        out.optionMask = 0;
        out.bitRate = out.peakBitRate = kMode.bitRate;
        out.delaySamples = kMode.delaySamples;
        out.codecId = kMode.codecId;
        out.frameBytes = static_cast<uint16_t>(2 * kMode.frameSamples);
        out.maxCodedBytes = kMode.codedBytes;
        out.minCodedBytes = static_cast<float>(kMode.codedBytes);
        return CODEC_OK;
    }

    static CodecStatus InitEncoder(EncoderState &s, const CodecFormat &, uint32_t, uint32_t) {
        return Codec::OpenEncoder(s, kMode);
    }
    static CodecStatus InitDecoder(DecoderState &s, const CodecFormat &, uint32_t, uint32_t) {
        return Codec::OpenDecoder(s, kMode);
    }

    static CodecStatus EncodeFrame(EncoderState &s, const frame::EncodeCall<uint8_t> &call) {
        if (*call.inBytes == CODEC_END_OF_STREAM) {
            // The libraries' look-ahead is their delay, not a held-back frame:
            // there is nothing to flush.
            *call.outBytes = 0;
            *call.inBytes = 0;
            return CODEC_OK;
        }
        int16_t pcm[kMode.frameSamples];
        std::memcpy(pcm, call.in, sizeof pcm); // little-endian 16-bit PCM
        const CodecStatus status = Codec::Encode(s, kMode, pcm, call.out);
        *call.outBytes = status == CODEC_OK ? kMode.codedBytes : 0;
        return status;
    }

    static CodecStatus DecodeFrame(DecoderState &s, const frame::DecodeCall<uint8_t> &call) {
        int16_t pcm[kMode.frameSamples];
        const CodecStatus status = Codec::Decode(s, kMode, call.in, pcm);
        *call.inBytes = kMode.codedBytes; // a damaged frame is still one frame of the stream
        if (status != CODEC_OK) {
            *call.outBytes = 0;
            return status;
        }
        std::memcpy(call.out, pcm, sizeof pcm);
        *call.outBytes = static_cast<uint16_t>(sizeof pcm);
        return CODEC_OK;
    }

    static CodecStatus CloseEncoderState(EncoderState &s) {
        Codec::CloseEncoder(s);
        return CODEC_OK;
    }
    static CodecStatus CloseDecoderState(DecoderState &s) {
        Codec::CloseDecoder(s);
        return CODEC_OK;
    }
};

} // namespace vntr::peers

// The two registration records of a peer, as the suite's libraries have them,
// with "Peer Codec" naming the system library that does the coding: the
// evaluator reads it to tell the peers' results from the suite's.
#define VNTR_PEER_REGISTRATION(NAME, DESCRIPTION, REFERENCE)                                                           \
    static constexpr ::vntr::registration::Value kMachineValues[] = {                                                  \
        {NAME " Core Engine", "<WinDir>/VNTR/QBL/" NAME ".so"}, {"SDK Codec", ""}, {"Peer Codec", REFERENCE}};         \
    static constexpr ::vntr::registration::Value kUserValues[] = {{"Description", DESCRIPTION}, {"Selected", "YES"}};  \
    static constexpr ::vntr::registration::KeyRecord kRegistrationRecords[] = {                                        \
        {::vntr::registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\" NAME, kMachineValues},                \
        {::vntr::registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\" NAME, kUserValues}};                   \
    static constexpr std::span<const ::vntr::registration::KeyRecord> kRegistration {                                  \
        kRegistrationRecords                                                                                           \
    }

// A peer's CodecInfo and registration records, its name written once.
#define VNTR_PEER_LIBRARY(NAME, VERSION_WORD, DESCRIPTION, REFERENCE)                                                  \
    static constexpr CodecInfo kInfo = ::vntr::peers::PeerInfo(VERSION_WORD, DESCRIPTION, NAME);                       \
    VNTR_PEER_REGISTRATION(NAME, DESCRIPTION, REFERENCE)

// The exports, with the prefix and engine given as macros of their own.
#define VNTR_PEER_EXPORTS(PREFIX, ENGINE) VNTR_DEFINE_CODEC_EXPORTS(PREFIX, ENGINE)
