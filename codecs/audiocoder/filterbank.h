// The 32-band polyphase analysis and synthesis filter banks of ISO/IEC
// 11172-3. Analysis and synthesis in a row reconstruct the input delayed by
// 481 samples, at about 86 dB SNR (the bank is not perfectly reconstructing).
//
// Each bank is a windowing and a matrixing. The kernels come in two forms:
// the plain ones (filterbank_reference.cpp), which compute the bank as the
// standard writes it down, and the fast ones the coder runs (filterbank.cpp):
//   analysis windowing   four lanes at a time, the same sums to the bit;
//   analysis matrixing   the 32 x 64 product four (or eight) subbands at a
//                        time, each sum in the plain order, so that the
//                        encoder's scale factors, allocations and codes are
//                        exactly the plain bank's;
//   synthesis matrixing  a 32-point fast cosine transform (80 products
//                        instead of 2048); the values differ from the plain
//                        product's in the last bits only;
//   synthesis windowing  four outputs at a time, the same sums to the bit.
#pragma once

#include "config.h"

#include <vntr/dsp/simd.hpp>

#include <array>
#include <cstdint>

namespace vntr::audiocoder {

// The widest vector unit the analysis may use, chosen once per handle when it
// is opened (dsp::DetectSimd()). Every kind gives the same subband samples to
// the last bit.
using dsp::Simd;

// State of the analysis bank: the last 512 input samples as a ring, newest at
// the lowest position. Each sample is held twice, at p and p + 512, so that
// the window reads 512 values in one run from `offset` without wrapping.
struct AnalysisState {
    alignas(32) std::array<float, 1024> ring;
    int offset; // 0 at start; always a multiple of 32
    Simd simd;  // the kernels this handle runs
};

// State of the synthesis bank: the 1024-value matrixing history.
struct SynthesisState {
    alignas(32) std::array<float, 1024> v;
    int offset; // 64 at start, so that the first block is written at 0
};

// Resets the history; the analysis keeps `simd` (Simd::Plain runs the plain
// kernels, for comparison).
void ResetAnalysis(AnalysisState &s, Simd simd = dsp::DetectSimd());
void ResetSynthesis(SynthesisState &s);

// in  [32] one block of samples on the 16-bit scale, oldest first
// out [32] subband samples, full scale about +-1
void Analyse(AnalysisState &s, const float *in, float *out);

// in  [32] subband samples
// out [32] PCM before rounding, on the 16-bit scale
void Synthesise(SynthesisState &s, const float *in, float *out);

// The plain synthesis bank: the 64 x 32 product and the plain windowing. Its
// output differs from Synthesise's in the last bits only.
void SynthesiseReference(SynthesisState &s, const float *in, float *out);

// The kernels one by one, for the tests that hold the fast forms to the plain.
namespace kernel {

// Writes one block into the doubled ring at `offset`, newest lowest, scaled to
// full scale 1.
// ring [1024] in/out; in [32] oldest first, 16-bit scale
void AnalysisInput(float *ring, int offset, const float *in);

// Windowing and partial sums: y[i] = sum over j = 0..7 of C[i + 64j] * ring[offset + i + 64j].
// ring [1024] doubled ring; y [64] out
void AnalysisWindowPlain(const float *ring, int offset, float *y);
void AnalysisWindowSse2(const float *ring, int offset, float *y);

// Matrixing: out[k] = sum over i = 0..63 of cos((2k + 1)(i - 16) pi / 64) * y[i],
// summed in the order of i.
// y [64] in; out [32] subband samples
void AnalysisMatrixPlain(const float *y, float *out);
void AnalysisMatrixSse2(const float *y, float *out);
void AnalysisMatrixAvx2(const float *y, float *out); // only where dsp::DetectSimd() gives Simd::Avx2

// Matrixing: v[i] = sum over k = 0..31 of cos((16 + i)(2k + 1) pi / 64) * in[k], i = 0..63.
// in [32] subband samples; v [64] out
void SynthesisMatrixPlain(const float *in, float *v);
void SynthesisMatrixFast(const float *in, float *v);

// Windowing: out[j] = 32768 * sum over i = 0..7 of D[64i + j] V'[128i + j] + D[64i + 32 + j] V'[128i + 96 + j],
// with V'[m] = v[(offset + m) mod 1024].
// v [1024] history; out [32] PCM before rounding
void SynthesisWindowPlain(const float *v, int offset, float *out);
void SynthesisWindowSse2(const float *v, int offset, float *out);

// The unscaled 32-point cosine transforms the fast matrixing is made of:
//   Dct2: out[n] = sum over k of in[k] cos(pi n (2k + 1) / 64)
//   Dct3: out[k] = sum over n of in[n] cos(pi n (2k + 1) / 64)
// in [32]; out [32]
void Dct2(const float *in, float *out);
void Dct3(const float *in, float *out);

} // namespace kernel

} // namespace vntr::audiocoder
