// One engine for every tuned library: a codec of the suite whose encoder
// searches its bit stream otherwise (chosen by a perceptual score and the
// log-spectral distance), behind the common codec frame beside the library it
// tunes.  The bit stream, the decoder, the modes, formats, options and their
// checks are the described library's own: a tuned library changes only how
// its encoder chooses the parameters, its CodecInfo, codec ids, self-tag and
// registration.  A tuned library is a record T:
//   using Described = ...;                       the codec's frame engine (vt48::Engine)
//   VNTR_TUNED_LIBRARY(name, description, described name [, user values]);   its CodecInfo and
//                                                registration records, the name written once
//   static void Tune(Described::EncoderState &, uint32_t options);  the encoder's search settings,
//                                                                   after the described init
// and the library's exports are VNTR_DEFINE_CODEC_EXPORTS(prefix, TunedEngine<T>).
#pragma once

#include <vntr/codec_frame.hpp>

#include <cstddef>
#include <iterator>

namespace vntr::tuned {

// A tuned library's codec ids are its described library's, this far on, so
// that a coded file says which encoder wrote it: VT48 2020 -> VT48 HQ 2220,
// VT4864v6 2026..2028 -> 2226..2228, VT15 2034 -> 2234, VT120 2041 -> 2241.
inline constexpr int16_t kTunedIdOffset = CODEC_ID_TUNED_OFFSET;

constexpr int16_t TunedCodecId(int16_t described) {
    return static_cast<int16_t>(described + kTunedIdOffset);
}

// The described library's CodecInfo with the tuned library's name and
// description: the same formats, options, version and capabilities.  The
// name is the library's file stem and registry subkey.
template <std::size_t D, std::size_t N>
constexpr CodecInfo TunedInfo(const CodecInfo &described, const char (&description)[D], const char (&name)[N]) {
    static_assert(D <= sizeof(CodecInfo::description), "description too long for CodecInfo");
    static_assert(N <= sizeof(CodecInfo::shortName), "name too long for CodecInfo");
    CodecInfo info = described;
    for (auto &c : info.description) c = 0;
    for (auto &c : info.shortName) c = 0;
    for (std::size_t i = 0; i < D; ++i) info.description[i] = description[i];
    for (std::size_t i = 0; i < N; ++i) info.shortName[i] = name[i];
    return info;
}

template <class T>
struct TunedEngine : T::Described {
    using Described = typename T::Described;
    using EncoderState = typename Described::EncoderState;
    using DecoderState = typename Described::DecoderState;

    static constexpr CodecInfo kInfo = T::kInfo;
    // Another tag than the described library's, so that neither takes the other's handles.
    static constexpr uint32_t kLibraryTag = Described::kLibraryTag ^ 0x48510000u; // "HQ"
    static constexpr std::span<const registration::KeyRecord> kRegistration = T::kRegistration;

    static CodecStatus SelectMode(uint32_t format, uint32_t options, CodecFormat &out) {
        const CodecStatus status = Described::SelectMode(format, options, out);
        if (status == CODEC_OK) out.codecId = TunedCodecId(out.codecId);
        return status;
    }
    static CodecStatus InitEncoder(EncoderState &state, const CodecFormat &format, uint32_t formatWord,
                                   uint32_t options) {
        const CodecStatus status = Described::InitEncoder(state, format, formatWord, options);
        if (status == CODEC_OK) T::Tune(state, options);
        return status;
    }
};

} // namespace vntr::tuned

// A tuned library's CodecInfo and its two registration records, as the
// described library's, with "Tuned Encoder" naming the library whose streams
// it writes; the user key may take more values (the described library's
// "Selected bitrate").
#define VNTR_TUNED_LIBRARY(NAME, DESCRIPTION, DESCRIBED, ...)                                                          \
    static constexpr CodecInfo kInfo = ::vntr::tuned::TunedInfo(Described::kInfo, DESCRIPTION, NAME);                  \
    static constexpr ::vntr::registration::Value kMachineValues[] = {                                                  \
        {NAME " Core Engine", "<WinDir>/VNTR/QBL/" NAME ".so"}, {"SDK Codec", ""}, {"Tuned Encoder", DESCRIBED}};      \
    static constexpr ::vntr::registration::Value kUserValues[] = {{"Description", DESCRIPTION},                        \
                                                                  {"Selected", "YES"} __VA_OPT__(, ) __VA_ARGS__};     \
    static constexpr ::vntr::registration::KeyRecord kRegistrationRecords[] = {                                        \
        {::vntr::registration::Root::LocalMachine, "SOFTWARE\\Vantre\\QBL SDK\\" NAME, kMachineValues},                \
        {::vntr::registration::Root::CurrentUser, "SOFTWARE\\Vantre\\QBL SDK\\" NAME, kUserValues}};                   \
    static constexpr std::span<const ::vntr::registration::KeyRecord> kRegistration {                                  \
        kRegistrationRecords                                                                                           \
    }
