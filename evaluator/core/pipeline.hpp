// Pieces of the processing pipeline that need no Evaluator: statistics,
// the texts shown for a result and for progress, the flush and read-size
// rules, the coded file's format chunk, and the ordering by bit rate.
#pragma once

#include "codec_slot.hpp"

#include <array>
#include <cstdint>
#include <string>

namespace vntr::evaluator {

// Coded bytes offered to each Decode call.  A variable-rate decoder (fewest
// bytes below the most) may need one byte beyond maxCodedBytes: a frame of
// the largest size that starts in the middle of a byte ends in the byte
// after it.  Fixed-rate decoders get exactly maxCodedBytes.
uint16_t DecoderReadSize(const CodecFormat &format);

// The 26-byte `fmt ` chunk of a coded file.
std::array<unsigned char, 26> CodedFormatChunk(const CodecSlot &slot);

void ComputeCodingStats(CodecSlot &slot);
void ComputeDecodingStats(CodecSlot &slot);

// "Reduced %ld bytes to %ld (bit rate = %ld bps)", with "[! 8 kHz SF !]"
// behind it for a down-sampled codec.
std::string ReducedText(const CodecSlot &slot);
std::string CodingText(const CodecSlot &slot);   // "Coding in %4.2f seconds (%2.1f%% CPU)"
std::string DecodingText(const CodecSlot &slot); // "Decoding in %4.2f seconds (%2.1f%% CPU)"
std::string BitRateText(const CodecSlot &slot);  // "%ld bps"
std::string RatioText(const CodecSlot &slot);    // "%d:1"

std::string CodingProgressLine(const CodecSlot &slot);
std::string DecodingProgressLine(const CodecSlot &slot);

// Gives every selected slot of the first `count` a display row by ascending
// run bit rate (equal rates keep slot order); the others get -1.
void OrderByBitRate(SlotTable &slots, std::size_t count);

} // namespace vntr::evaluator
