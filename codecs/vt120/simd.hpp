// The widest vector unit the encoder's kernels may use, chosen once per
// handle when it opens.  Every kind gives the same results to the last bit;
// the wider one only takes fewer steps.
#pragma once

#include <cstdint>

namespace vntr::vt120 {

enum class Simd : uint8_t { Sse2, Avx2 };

// What this processor runs (read from the processor itself, no state kept).
Simd DetectSimd();

} // namespace vntr::vt120
