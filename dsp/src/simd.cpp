#include <vntr/dsp/simd.hpp>

namespace vntr::dsp {

Simd DetectSimd() {
#if defined(VNTR_SIMD_AVX2)
    __builtin_cpu_init(); // done at load already; harmless again, and needed before constructors have run
    if (__builtin_cpu_supports("avx2")) return Simd::Avx2;
#endif
#if defined(VNTR_SIMD_SSE2)
    return Simd::Sse2;
#else
    return Simd::Plain;
#endif
}

} // namespace vntr::dsp
