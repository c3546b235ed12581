// The 8 kHz copy of an 11025 Hz, 16-bit mono original for codecs that take
// only 8000 Hz.  Every block of eleven input samples becomes eight output
// samples by three-point Lagrange interpolation in Q13 fixed point; blocks are
// independent (no filter state), and a chunk of 220 samples that is cut short
// at the end of the data is dropped.
#pragma once

#include "frontend.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace vntr::evaluator {

constexpr std::size_t kDownsampleBlockIn = 11;
constexpr std::size_t kDownsampleBlockOut = 8;
constexpr std::size_t kDownsampleChunkSamples = 220; // 20 blocks, 440 bytes

// One block.  A weighted sum outside the 16-bit range saturates to 32767 or
// -32768 (keeping its low 16 bits would turn an overshoot into a loud click).
std::array<int16_t, kDownsampleBlockOut> DownsampleBlock(std::span<const int16_t, kDownsampleBlockIn> x);

// Writes the 8 kHz copy of `originalPath` to `outputPath`.
bool DownsampleOriginal(Frontend &ui, const std::string &originalPath, const std::string &outputPath);

} // namespace vntr::evaluator
