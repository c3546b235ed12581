// The one choice of vector kernels for every library.  A handle asks
// DetectSimd() when it opens and keeps the answer in its own block; a
// function without a handle asks it at the call.  Every kernel comes in a
// plain form beside its vector forms, and all forms of a kernel give the
// same results to the last bit: the wider one only takes fewer steps.
//
// The vector forms are compiled where the compiler targets x86 (SSE2 is part
// of x86-64; the AVX2 forms are marked for AVX2 function by function and run
// only where the processor reports it).  Defining VNTR_PLAIN_KERNELS (the
// CMake option of that name) leaves them all out: only the plain forms are
// built and DetectSimd() gives Simd::Plain, which is how the plain build is
// checked to compile.
#pragma once

#include <cstdint>

#if !defined(VNTR_PLAIN_KERNELS) && defined(__SSE2__)
#define VNTR_SIMD_SSE2 1
#endif
#if !defined(VNTR_PLAIN_KERNELS) && (defined(__x86_64__) || defined(__i386__)) &&                                      \
    (defined(__GNUC__) || defined(__clang__))
#define VNTR_SIMD_AVX2 1
// Marks a function whose body may use AVX2 (and only AVX2: no fused
// multiply-add is asked for, so products and sums round as in the plain form).
#define VNTR_TARGET_AVX2 __attribute__((target("avx2")))
#endif

namespace vntr::dsp {

// Ordered by width: a kernel given a kind it was not built for runs the
// widest narrower form it has.  A small inline kernel whose form is chosen
// when it is compiled (an SSE2 loop with its plain loop beside it) runs its
// SSE2 form for every kind, and its plain form in the plain build.
enum class Simd : uint8_t { Plain, Sse2, Avx2 };

// The widest kind this build and this processor run.  Read from the processor
// each time (the compiler's run-time support keeps what it learnt at load);
// nothing of ours is kept.
Simd DetectSimd();

} // namespace vntr::dsp
