// Linear-prediction analysis: autocorrelation, Levinson-Durbin recursion and
// bandwidth expansion.  Coefficients follow A(z) = 1 + a1 z^-1 + ... + aM z^-M
// and are stored without the leading 1 (a[0] is a1).
#pragma once

namespace vntr::dsp {

// r[k] = sum_{n=0}^{n-1-k} x[n] x[n+k], k = 0..order.
//   in  x [length]     out r [order + 1]
void Autocorrelation(const float *x, int length, int order, float *r);

// Levinson-Durbin recursion on r[0..order].  A step whose reflection
// coefficient would reach magnitude 1 (|v| >= E) ends the recursion, keeping
// the coefficients found so far (the rest are 0), so the result is always a
// stable filter.  Returns the final prediction error.
//   in  r [order + 1]     out a [order]
float Levinson(const float *r, int order, float *a);

// The autocorrelation analysis of one block of speech: the block times a
// symmetric window (given by its first length/2 values), autocorrelations
// r[0..order]; when r[0] is not 0, r[0] *= noiseFactor (white-noise
// correction) and r[k] *= lagWindow[k-1], else r[1..order] = 0; all divided
// by length^2; then the Levinson recursion.  Returns its final error.
//   in  x [length] (even, <= kMaxAnalysisBlock), halfWindow [length/2], lagWindow [order]
//   out a [order]
constexpr int kMaxAnalysisBlock = 256;
float AnalyseBlock(const float *x, int length, const float *halfWindow, const float *lagWindow, float noiseFactor,
                   int order, float *a);

// out[i] = a[i] * gamma^(i+1): A(z / gamma).  in and out may alias.
//   in  a [order]     out out [order]
void BandwidthExpand(const float *a, int order, float gamma, float *out);

} // namespace vntr::dsp
