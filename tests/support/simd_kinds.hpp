// The kernel kinds this build and this processor run, narrowest first: the
// forms of a kernel that a test holds equal to each other.  A test compiled
// for the plain build (VNTR_PLAIN_KERNELS) lists only Simd::Plain.
#pragma once

#include <vntr/dsp/simd.hpp>

#include <vector>

namespace vntr::test {

inline std::vector<dsp::Simd> SimdKinds() {
    std::vector<dsp::Simd> kinds;
    kinds.push_back(dsp::Simd::Plain);
#if defined(VNTR_SIMD_SSE2)
    if (dsp::DetectSimd() >= dsp::Simd::Sse2) kinds.push_back(dsp::Simd::Sse2);
#endif
#if defined(VNTR_SIMD_AVX2)
    if (dsp::DetectSimd() >= dsp::Simd::Avx2) kinds.push_back(dsp::Simd::Avx2);
#endif
    return kinds;
}

inline const char *SimdName(dsp::Simd kind) {
    return kind == dsp::Simd::Avx2 ? "avx2" : (kind == dsp::Simd::Sse2 ? "sse2" : "plain");
}

} // namespace vntr::test
