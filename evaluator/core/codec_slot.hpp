// The evaluator's record of one codec library and of its last run.
#pragma once

#include "quality.hpp"

#include <vntr/codec_api.h>
#include <vntr/platform/dynlib.hpp>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace vntr::evaluator {

constexpr std::size_t kMaxSlots = 20;

enum class InterfaceKind : uint16_t {
    Standard = 0,  // the frame-by-frame codec interface
    WholeFile = 1, // the older whole-file interface ("Codec Type" = "LPC")
};

struct CodecSlot {
    CodecInfo info{};
    CodecFormat format{};
    std::unique_ptr<platform::DynamicLibrary> library;
    uint32_t encoderOptions = 0;
    uint32_t decoderOptions = 0;
    uint32_t formatFlags = 0;
    int32_t sampleRate = 0;
    uint32_t inputBytes = 0;
    uint32_t codedBytes = 0;
    uint32_t encodedInputBytes = 0;
    uint32_t decodedCodedBytes = 0;
    uint32_t codingTime = 0;   // raw ticks during a run, milliseconds after it
    uint32_t decodingTime = 0; // likewise
    int32_t downsampled = 0;
    int32_t playing = 0;
    int32_t selected = 0;
    float runBitRate = 0;
    float ratio = 0;
    float codingLoad = 0;
    float decodingLoad = 0;
    std::array<char, 20> name{};
    uint16_t blockAlign = 0;
    InterfaceKind interfaceKind = InterfaceKind::Standard;
    int16_t displaySlot = -1;

    // Beyond the display: exact times and the outcome, for reports.
    uint64_t codingMicros = 0;
    uint64_t decodingMicros = 0;
    bool failed = false; // a pass of the last run failed
    // Why a selected codec cannot take the current original ("8 kHz not
    // supported"); empty when it can.
    std::string notRunReason;
    Quality quality;
    // The encoder's declared algorithmic latency: its delaySamples plus one
    // frame, in samples at the processing rate; -1 before an encoder opened.
    int32_t latencySamples = -1;
    // The quality was measured at the codec's one alignment for the run.
    bool alignedOnce = false;
    // A library around a standard codec of the field names the system library
    // that does its coding ("Peer Codec" in its machine key); empty for ours.
    std::string peerLibrary;

    std::string Name() const { return std::string(name.data()); }
    std::string ShortName() const {
        return std::string(info.shortName, strnlen(info.shortName, sizeof info.shortName));
    }
    std::string Description() const {
        return std::string(info.description, strnlen(info.description, sizeof info.description));
    }
    bool HasResults() const { return codedBytes != 0 && inputBytes != 0 && sampleRate != 0; }
    // The codec's option word: the encoder opens with it, and the decoder
    // with the same word, since a coded stream is read in the mode it was written in.
    void SetOptions(uint32_t options) {
        encoderOptions = options;
        decoderOptions = options;
    }

    // Forgets what the last original and run left: format, processing
    // format, counters, times, the down-sampling mark and the statistics.
    void ClearPerFileResults();
    // Back to an empty slot: no library, no name, nothing selected.
    void Reset();
};

using SlotTable = std::array<CodecSlot, kMaxSlots>;

} // namespace vntr::evaluator
