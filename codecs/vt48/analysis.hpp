// The encoder's analysis of a frame: the input high-pass, the quiet flag,
// the open-loop pitch estimate and the predictor analysis that ends in ten
// unquantised LSFs.
#pragma once

#include "kernels.hpp"
#include "lsf.hpp"

#include <vntr/dsp/schur.hpp>

namespace vntr::vt48 {

// y[n] = 0.5 (x[n] - x[n-1]) + 0.94 y[n-1] + 0.001, in place; the constant
// makes a silent input settle at 0.001 / 0.06.
struct HighPassState {
    float input;
    float output;
};
void HighPass(HighPassState &state, float *x, int length);

// The mean magnitude of speech buffer positions 0..219 is below 69.
bool IsQuiet(const float *speech);

// The open-loop pitch of the frame from the previous frame's 160 samples (buffer
// positions 24..183 of that frame) and buffer positions 24..243 of this one,
// given the choices of the two frames before.  Every `simd` gives the same lag.
struct OpenLoopTrace {
    int e, f, m; // candidates before refinement
    int eRefined, fRefined, mRefined;
    float eScore, fScore, mScore;
};
int OpenLoopPitch(const float *previous, const float *current, int previousLag, int lagBefore,
                  OpenLoopTrace *trace = nullptr, Simd simd = Simd::Sse2);

// The pitch signal is the speech through 1/(1 - 0.9 z^-1) from rest at the
// previous frame's start: w[n] = s[n] + 0.9 w[n-1].
//   in x [160]     out w [160]
void PitchLowPass(const float *x, float *w);

// OpenLoopPitch with the previous frame already through PitchLowPass, which
// also passes this frame's first 160 samples (the next frame's previous ones)
// through it.  The two recursions are independent and run side by side.
//   in previousLowPassed [160], current [220]     out nextLowPassed [160]
int OpenLoopPitchLowPassed(const float *previousLowPassed, const float *current, int previousLag, int lagBefore,
                           float *nextLowPassed, OpenLoopTrace *trace = nullptr, Simd simd = Simd::Sse2);

// The refinement score of lag L at the low-passed signal w (380 samples):
// backward and forward normalised correlations over w[150..230].
float RefinementScore(const float *w, int lag, Simd simd = Simd::Sse2);

// The analysis window, 220 samples: 0.54 - 0.46 cos(pi n / 45) up to n = 45,
// 1 in the middle, mirrored (w[219 - n] = w[n]).
void FillAnalysisWindow(float *window);

// Window, autocorrelation (r0 raised by 1.001), reflection coefficients by the
// Schur recursion, predictor, LSFs; every `simd` gives the same LSFs.
//   in speech [244]: the buffer; the window covers positions 24..243
//   in window [220]      out predictor [10] (optional): a1..a10
Lsf AnalyseEnvelope(const float *speech, const float *window, dsp::SchurWorkspace &work, float *predictor = nullptr,
                    Simd simd = Simd::Sse2);

} // namespace vntr::vt48
