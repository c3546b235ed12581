// A second decoder of the dual-rate vocoder, written apart from the library's
// decoder and sharing none of its code: the coded frame, the LSP rebuilding
// and stabilisation, the excitation, the synthesis and the post-filter as
// plain loops, each step as the format defines it and in that order, in
// single precision but for two steps whose rounding would otherwise decide
// the output (the LSP-to-LPC conversion and the sums behind the pitch
// post-filter's choice, see there).  It shares only the trained tables with
// the library (the LSP codebooks, the pitch-predictor taps and the
// fractional-delay filters) and draws its dither from the same generator,
// whose sequence is ours to choose.  Tests hold the library's decoder to it.
#pragma once

#include <array>
#include <cstdint>

namespace vntr::vt4864v6::reference {

// The ordering (up to two bubble passes) and the spacing rule, nothing else.
void OrderAndSpace(float *w);

// The frame's LSP vector from its three indices and the previous vector:
// rebuilt, then ordered and spaced.
std::array<float, 10> NextLsp(const std::array<unsigned, 3> &indices, const std::array<float, 10> &previous);

class Decoder {
public:
    Decoder();

    // Decodes the frame at `coded` (18 or 24 bytes, by its rate code) into 240
    // samples; returns the number of bytes the frame takes.
    int Decode(const uint8_t *coded, int16_t pcm[240]);

    // The LSP vector of the last frame, as rebuilt and stabilised.
    const std::array<float, 10> &Lsp() const { return previousLsp_; }

private:
    void Synthesise(const float *excitation, int subframes, int length);
    void PostFilter(int subframes, int length, float *out);
    void PitchPostFilter(const float *r, int lag, int length, float *out) const;

    std::array<float, 10> previousLsp_;
    float lpc_[4][10] = {};
    float past_[147] = {};
    float synthesisMemory_[10] = {}; // y(n-10) .. y(n-1)
    float speech_[240] = {};
    int lags_[4] = {};
    uint32_t dither_ = 0x2545F491u;
    // Post-filter.
    float residualHistory_[154] = {};
    float speechHistory_[10] = {};
    float formantMemory_[10] = {};
    float agcGain_ = 1.0f;
};

} // namespace vntr::vt4864v6::reference
