// Reflection coefficients from an autocorrelation by the Schur recursion, and
// the step-up recursion that turns them into the predictor
// A(z) = 1 + a1 z^-1 + ... + aM z^-M (a[0] is a1).
//
// The recursion's working arrays live in a workspace that the caller owns (an
// encoder keeps one in its handle), so that handles never share storage.
#pragma once

namespace vntr::dsp {

constexpr int kMaxSchurOrder = 32;

struct SchurWorkspace {
    float forward[kMaxSchurOrder + 1];  // generator row whose first entry is the prediction error
    float backward[kMaxSchurOrder + 1]; // the second generator row
};

// Reflection coefficients k[0..order-1] of r[0..order].  Once the prediction
// error is not positive (also when r[0] <= 0 to begin with), the remaining
// coefficients are 0; a step that would take the error to zero or below
// (|k| >= 1, which rounding can produce on a nearly singular input) is
// refused the same way, so the predictor is always stable.  Returns the
// prediction error after the last step taken (r[0] when none was taken).
//   in  r [order + 1]     out k [order]
float Schur(const float *r, int order, float *k, SchurWorkspace &work);

// Predictor coefficients from reflection coefficients (the step-up recursion).
//   in  k [order]     out a [order]
void ReflectionToPredictor(const float *k, int order, float *a);

} // namespace vntr::dsp
