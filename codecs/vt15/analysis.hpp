// The encoder's front end: the input filters and the signal histories they
// feed, the spectral analysis of a frame, its gains and the peakiness of its
// prediction residual.
//
// Every signal history holds kHistory samples, the newest last.  A frame is
// analysed around the point kAnalysisCentre, 120 samples before the newest
// sample, so that the longest gain window (under 240 samples) ends inside
// the history and the pitch window (160 samples) has 161 samples of past
// behind it.
#pragma once

#include "frame_classes.hpp"

#include <vntr/dsp/butterworth.hpp>

namespace vntr::vt15 {

constexpr int kHistory = 400;
constexpr int kAnalysisCentre = kHistory - 120;
constexpr int kLpcWindow = 200;
constexpr int kPitchWindow = 160;
constexpr int kPitchWindowStart = kAnalysisCentre - kPitchWindow / 2;
constexpr int kFirstGainCentre = kAnalysisCentre - kFrameLength / 2;
constexpr float kBandwidthExpansion = 0.994f;

// The histories of the input after the high-pass, of its 1000 Hz low-pass,
// of the five voicing bands and of their envelopes.
struct SignalHistory {
    float speech[kHistory];
    float lowPass[kHistory];
    float band[kBands][kHistory];
    float envelope[kBands][kHistory];
};

// The 1000 Hz low-pass and the five bands run as one bank: lane 0 the
// low-pass, lanes 1..5 the bands.
struct InputFilters {
    double highPass[8]; // x[n-1..n-4], y[n-1..n-4]
    dsp::SosBank bank;
    dsp::SosBankState bankState;
    float envelope[kBands][3]; // rectified input x[n-1], y[n-1], y[n-2]
};

// Designs the Butterworth filters (sixth order, bilinear transform): the
// 1000 Hz low-pass of the pitch search and the five voicing bands, 0-500,
// 500-1000, 1000-2000, 2000-3000 and 3000-4000 Hz.
void InitInputFilters(InputFilters &filters);
void DesignAnalysisFilters(dsp::SosFilter &lowPass, dsp::SosFilter *bands);

// Filters one frame of input and appends it to every history.
//   in pcm [kFrameLength]
void PushFrame(InputFilters &filters, SignalHistory &history, const float *pcm);

// The fourth-order high-pass of the input (state in double precision: its
// poles lie within 1e-4 of z = 1).
void HighPass(double *state, const float *x, float *y, int length);

struct SpectralAnalysis {
    float autocorrelation[kOrder + 1]; // of the windowed samples
    float lpc[kOrder];                 // after bandwidth expansion
    float lsf[kOrder];                 // ordered and spaced
    float windowed[kLpcWindow];
};

// Hamming window of 200 samples: 0.54 - 0.46 cos(2 pi n / 199).
void HammingWindow(float *window);

// The 200 samples around the analysis point, windowed; their autocorrelation,
// Levinson-Durbin, bandwidth expansion by 0.994^k and LSF.
void AnalyseSpectrum(const float *speech, const float *window, SpectralAnalysis &out);

// The same analysis with a Gaussian lag window of `lagWindowHz` (0: none) and
// r[0] raised by 1 + noiseCorrection before Levinson-Durbin, and the LPC set
// expanded by `expansion` (the tuned encoder's envelope).
void AnalyseSpectrum(const float *speech, const float *window, float lagWindowHz, float noiseCorrection,
                     float expansion, SpectralAnalysis &out);

// 10 log10(0.01 + mean square) of the signal over a window centred at
// `centre`: the smallest multiple of the pitch not shorter than 120 samples
// (halved when longer than 320), or 119 samples when pitch is 0; at least 0 dB.
float MeasureGain(const float *speech, int centre, float pitch);

// 10 log10(0.01 + mean square) over `length` samples centred at `centre`, at least 0 dB.
float LevelAt(const float *speech, int centre, int length);

// sqrt(160) * sqrt(sum r^2) / sum |r| of the prediction residual over the
// pitch window: about 1 for noise, large for sparse pulses.
float ResidualPeakiness(const float *speech, const float *lpc);

} // namespace vntr::vt15
