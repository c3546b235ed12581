#include "pipeline.hpp"

#include "printf.hpp"

#include <vntr/platform/clock.hpp>

#include <vector>

namespace vntr::evaluator {
namespace {

long Rounded(float value) {
    return static_cast<long>(value + 0.5f);
}

} // namespace

uint16_t DecoderReadSize(const CodecFormat &format) {
    const bool variable = format.minCodedBytes < static_cast<float>(format.maxCodedBytes);
    if (variable && format.maxCodedBytes < UINT16_MAX) return static_cast<uint16_t>(format.maxCodedBytes + 1);
    return format.maxCodedBytes;
}

std::array<unsigned char, 26> CodedFormatChunk(const CodecSlot &slot) {
    std::array<unsigned char, 26> b{};
    auto put16 = [&](std::size_t at, uint32_t v) {
        b[at] = static_cast<unsigned char>(v);
        b[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    auto put32 = [&](std::size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    const uint32_t f = slot.formatFlags;
    put16(0, 0x1100);
    put16(2, (f & CODEC_FMT_MONO) != 0 ? 1 : (f & CODEC_FMT_STEREO) != 0 ? 2 : 0);
    put32(4, static_cast<uint32_t>(slot.sampleRate));
    put32(8, slot.format.bitRate / 8);
    put16(12, slot.format.maxCodedBytes);
    put16(14, (f & CODEC_FMT_8BIT) != 0 ? 8 : (f & CODEC_FMT_16BIT) != 0 ? 16 : 0);
    put16(16, 8);
    put16(18, static_cast<uint16_t>(slot.format.codecId));
    put16(20, slot.format.frameBytes);
    put32(22, slot.info.version);
    return b;
}

void ComputeCodingStats(CodecSlot &slot) {
    slot.codingTime = platform::TicksToMs(slot.codingTime);
    const float duration = static_cast<float>(slot.inputBytes) /
                           (static_cast<float>(slot.sampleRate) * static_cast<float>(slot.blockAlign));
    if (slot.codedBytes != 0 && slot.inputBytes != 0) {
        slot.runBitRate = static_cast<float>(slot.codedBytes) * 8.0f / duration;
        slot.codingLoad = static_cast<float>(slot.codingTime) / (10.0f * duration);
        slot.ratio = static_cast<float>(slot.inputBytes) / static_cast<float>(slot.codedBytes);
    }
}

void ComputeDecodingStats(CodecSlot &slot) {
    slot.decodingTime = platform::TicksToMs(slot.decodingTime);
    if (slot.inputBytes != 0) {
        slot.decodingLoad = static_cast<float>(slot.decodingTime) * static_cast<float>(slot.blockAlign) *
                            static_cast<float>(slot.sampleRate) / (static_cast<float>(slot.inputBytes) * 10.0f);
    }
}

std::string ReducedText(const CodecSlot &slot) {
    std::string text = Printf("Reduced %ld bytes to %ld (bit rate = %ld bps)", static_cast<long>(slot.inputBytes),
                              static_cast<long>(slot.codedBytes), Rounded(slot.runBitRate));
    if (slot.downsampled != 0) text += "[! 8 kHz SF !]";
    return text;
}

std::string CodingText(const CodecSlot &slot) {
    return Printf("Coding in %4.2f seconds (%2.1f%% CPU)", static_cast<double>(slot.codingTime) / 1000.0,
                  static_cast<double>(slot.codingLoad));
}

std::string DecodingText(const CodecSlot &slot) {
    return Printf("Decoding in %4.2f seconds (%2.1f%% CPU)", static_cast<double>(slot.decodingTime) / 1000.0,
                  static_cast<double>(slot.decodingLoad));
}

std::string BitRateText(const CodecSlot &slot) {
    return Printf("%ld bps", Rounded(slot.runBitRate));
}

std::string RatioText(const CodecSlot &slot) {
    return Printf("%d:1", static_cast<int>(Rounded(slot.ratio)));
}

std::string CodingProgressLine(const CodecSlot &slot) {
    const auto p = slot.inputBytes == 0
                       ? int16_t{0}
                       : static_cast<int16_t>(static_cast<uint64_t>(slot.encodedInputBytes) * 100 / slot.inputBytes);
    if (p > 96) return Printf("Processing coding : %ld bytes (done)", static_cast<long>(slot.encodedInputBytes));
    return Printf("Processing coding : %ld bytes (%d %%)", static_cast<long>(slot.encodedInputBytes), p);
}

std::string DecodingProgressLine(const CodecSlot &slot) {
    if (slot.decodedCodedBytes == 0 || slot.codedBytes == 0) return "Processing decoding : 0 bytes (0 %)";
    const auto q = static_cast<int16_t>(static_cast<uint64_t>(slot.decodedCodedBytes) * 100 / slot.codedBytes);
    if (q > 96) return Printf("Processing decoding : %ld bytes (done)", static_cast<long>(slot.decodedCodedBytes));
    return Printf("Processing decoding : %ld bytes (%d %%)", static_cast<long>(slot.decodedCodedBytes), q);
}

void OrderByBitRate(SlotTable &slots, std::size_t count) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < count; ++i) {
        slots[i].displaySlot = -1;
        slots[i].playing = 0;
        // A later index goes before the first earlier one with a strictly
        // greater bit rate, so equal rates keep slot order.
        auto at = order.begin();
        while (at != order.end() && !(slots[*at].runBitRate > slots[i].runBitRate)) ++at;
        order.insert(at, i);
    }
    int16_t row = 0;
    for (const std::size_t i : order) {
        if (slots[i].selected != 0) slots[i].displaySlot = row++;
    }
}

} // namespace vntr::evaluator
