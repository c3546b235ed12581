// Pitch measures by normalised correlation over a window of a signal that
// carries its history in front of it: x[0 .. window-1] is the window and
// x[-lag ..] the past.  With c(i, j) = sum_{n<window} x[n-i] x[n-j],
// the normalised correlation at lag T is c(0,T) / sqrt(c(0,0) c(T,T)).
#pragma once

namespace vntr::dsp {

struct PitchEstimate {
    float pitch;    // samples
    float strength; // normalised correlation, about -1..1
};

// The integer lag in minLag..maxLag with the largest c(0,T)^2 / (c(0,0) c(T,T)),
// counting only lags whose c(0,T) exceeds 0.01 (so anti-correlation never
// wins).  Lags are tried from maxLag downwards and a shorter lag must be
// strictly better to replace a longer one.  strength is the square root of the
// best score (0, and pitch maxLag, when no lag qualifies).
//   in x [-maxLag .. window-1]
PitchEstimate IntegerPitch(const float *x, int window, int minLag, int maxLag);

// Refines a pitch to a fraction of a sample.  The best integer lag T by
// normalised correlation in max(P - range, minPitch, 0.75 P) .. min(P + range,
// maxPitch) (bounds rounded to the nearest integer) is taken one lag down when
// c(0,T-1) > c(0,T+1), so that the peak lies between T and T+1; the offset
//   d = (c(T,T) c(0,T+1) - c(T,T+1) c(0,T)) / D,
//   D = (c(T,T) - c(T,T+1)) c(0,T+1) + (c(T+1,T+1) - c(T,T+1)) c(0,T),
// (0.5 when |D| <= 0.01) is limited to -1..2 and the pitch T + d to
// minPitch..maxPitch.  The strength is the normalised correlation of the
// linearly interpolated delayed signal at the result (see PitchStrengthAt).
//   in x [-(maxPitch + 1) .. window-1]
PitchEstimate RefinePitch(const float *x, int window, float pitch, float range, float minPitch, float maxPitch);

// Normalised correlation at a fractional lag P = T + d (T = floor(P), e = 1 - d):
//   (e c(0,T) + d c(0,T+1)) / sqrt(c(0,0) (e^2 c(T,T) + 2 d e c(T,T+1) + d^2 c(T+1,T+1))),
// 0 when that root is at most 0.01.
//   in x [-(floor(P) + 1) .. window-1]
float PitchStrengthAt(const float *x, int window, float pitch);

} // namespace vntr::dsp
