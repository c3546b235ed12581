#include "analysis.hpp"

#include "parameters.hpp"

#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/vector.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace vntr::vt15 {
namespace {

// The input's high-pass, of the elliptic kind: fourth order, its four zeros on
// the unit circle (deepest near 34 and 50 Hz), at least 25 dB down below
// 60 Hz, 3 dB down at 94 Hz and flat within 0.03 dB above 150 Hz, so that hum
// and rumble stay out of the pitch and voicing analysis.  dsp/butterworth
// designs no such filter; the coefficients stay as written (the reference
// vectors hold the encoder to them), run in double precision in direct form.
//   y[n] = sum_k kHighPassB[k] x[n-k] + sum_k kHighPassA[k] y[n-1-k]
constexpr double kHighPassB[5] = {0.926924, -3.705638, 5.557429, -3.705638, 0.926924};
constexpr double kHighPassA[4] = {3.846107, -5.552098, 3.565161, -0.859188};

// Envelope filter (1 - z^-1) / (1 - 1.9266 z^-1 + 0.9409 z^-2) on the rectified band.
void Envelope(float *state, const float *x, float *y, int length) {
    float x1 = state[0], y1 = state[1], y2 = state[2];
    for (int n = 0; n < length; ++n) {
        const float rectified = std::fabs(x[n]);
        const float out = rectified - x1 + 1.9266f * y1 - 0.9409f * y2;
        x1 = rectified;
        y2 = y1;
        y1 = out;
        y[n] = out;
    }
    state[0] = x1;
    state[1] = y1;
    state[2] = y2;
}

void Shift(float *history) {
    std::memmove(history, history + kFrameLength, (kHistory - kFrameLength) * sizeof(float));
}

} // namespace

void DesignAnalysisFilters(dsp::SosFilter &lowPass, dsp::SosFilter *bands) {
    constexpr double fs = 8000.0;
    lowPass = dsp::DesignButterworth(dsp::FilterBand::LowPass, 6, 1000.0, 0.0, fs);
    bands[0] = dsp::DesignButterworth(dsp::FilterBand::LowPass, 6, 500.0, 0.0, fs);
    bands[1] = dsp::DesignButterworth(dsp::FilterBand::BandPass, 6, 500.0, 1000.0, fs);
    bands[2] = dsp::DesignButterworth(dsp::FilterBand::BandPass, 6, 1000.0, 2000.0, fs);
    bands[3] = dsp::DesignButterworth(dsp::FilterBand::BandPass, 6, 2000.0, 3000.0, fs);
    bands[4] = dsp::DesignButterworth(dsp::FilterBand::HighPass, 6, 3000.0, 0.0, fs);
}

void InitInputFilters(InputFilters &filters) {
    std::memset(&filters, 0, sizeof filters);
    dsp::SosFilter all[1 + kBands];
    DesignAnalysisFilters(all[0], all + 1);
    filters.bank = dsp::MakeSosBank(all, 1 + kBands);
}

void HighPass(double *state, const float *x, float *y, int length) {
    double *xs = state;     // x[n-1] .. x[n-4]
    double *ys = state + 4; // y[n-1] .. y[n-4]
    for (int n = 0; n < length; ++n) {
        const double in = x[n];
        const double out = kHighPassB[0] * in + kHighPassB[1] * xs[0] + kHighPassB[2] * xs[1] + kHighPassB[3] * xs[2] +
                           kHighPassB[4] * xs[3] + kHighPassA[0] * ys[0] + kHighPassA[1] * ys[1] +
                           kHighPassA[2] * ys[2] + kHighPassA[3] * ys[3];
        xs[3] = xs[2];
        xs[2] = xs[1];
        xs[1] = xs[0];
        xs[0] = in;
        ys[3] = ys[2];
        ys[2] = ys[1];
        ys[1] = ys[0];
        ys[0] = out;
        y[n] = static_cast<float>(out);
    }
}

void PushFrame(InputFilters &filters, SignalHistory &history, const float *pcm) {
    constexpr int kNew = kHistory - kFrameLength;
    Shift(history.speech);
    Shift(history.lowPass);
    float *speech = history.speech + kNew;
    HighPass(filters.highPass, pcm, speech, kFrameLength);
    float *outputs[1 + kBands] = {history.lowPass + kNew};
    for (int b = 0; b < kBands; ++b) {
        Shift(history.band[b]);
        Shift(history.envelope[b]);
        outputs[1 + b] = history.band[b] + kNew;
    }
    dsp::SosBankRun(filters.bank, filters.bankState, speech, outputs, kFrameLength);
    for (int b = 0; b < kBands; ++b)
        Envelope(filters.envelope[b], outputs[1 + b], history.envelope[b] + kNew, kFrameLength);
}

void HammingWindow(float *window) {
    for (int n = 0; n < kLpcWindow; ++n) {
        window[n] = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * std::numbers::pi * n / (kLpcWindow - 1)));
    }
}

void AnalyseSpectrum(const float *speech, const float *window, SpectralAnalysis &out) {
    const float *start = speech + kAnalysisCentre - kLpcWindow / 2;
    for (int n = 0; n < kLpcWindow; ++n) out.windowed[n] = start[n] * window[n];
    dsp::Autocorrelation(out.windowed, kLpcWindow, kOrder, out.autocorrelation);
    float a[kOrder];
    dsp::Levinson(out.autocorrelation, kOrder, a);
    dsp::BandwidthExpand(a, kOrder, kBandwidthExpansion, out.lpc);
    dsp::LpcToLsp(out.lpc, kOrder, out.lsf);
    OrderAndSpaceLsf(out.lsf);
}

void AnalyseSpectrum(const float *speech, const float *window, float lagWindowHz, float noiseCorrection,
                     float expansion, SpectralAnalysis &out) {
    const float *start = speech + kAnalysisCentre - kLpcWindow / 2;
    for (int n = 0; n < kLpcWindow; ++n) out.windowed[n] = start[n] * window[n];
    dsp::Autocorrelation(out.windowed, kLpcWindow, kOrder, out.autocorrelation);
    float r[kOrder + 1];
    r[0] = out.autocorrelation[0] * (1.0f + noiseCorrection);
    for (int k = 1; k <= kOrder; ++k) {
        const double x = 2.0 * std::numbers::pi * lagWindowHz * k / 8000.0;
        r[k] = out.autocorrelation[k] * static_cast<float>(std::exp(-0.5 * x * x));
    }
    float a[kOrder];
    dsp::Levinson(r, kOrder, a);
    dsp::BandwidthExpand(a, kOrder, expansion, out.lpc);
    dsp::LpcToLsp(out.lpc, kOrder, out.lsf);
    OrderAndSpaceLsf(out.lsf);
}

float MeasureGain(const float *speech, int centre, float pitch) {
    int length = 119;
    if (pitch > 0.0f) {
        const float multiple = std::ceil(120.0f / pitch) * pitch;
        const float chosen = multiple > 320.0f ? 0.5f * multiple : multiple;
        length = static_cast<int>(std::lround(chosen));
    }
    const float *start = speech + centre - length / 2;
    const float meanSquare = dsp::Dot(start, start, length) / static_cast<float>(length);
    return std::max(0.0f, 10.0f * std::log10(0.01f + meanSquare));
}

float LevelAt(const float *speech, int centre, int length) {
    const float *start = speech + centre - length / 2;
    const float meanSquare = dsp::Dot(start, start, length) / static_cast<float>(length);
    return std::max(0.0f, 10.0f * std::log10(0.01f + meanSquare));
}

float ResidualPeakiness(const float *speech, const float *lpc) {
    const float *x = speech + kPitchWindowStart;
    double squares = 0.0;
    double magnitudes = 0.0;
    for (int n = 0; n < kPitchWindow; ++n) {
        float r = x[n];
        for (int k = 0; k < kOrder; ++k) r += lpc[k] * x[n - 1 - k];
        squares += static_cast<double>(r) * r;
        magnitudes += std::fabs(r);
    }
    if (magnitudes <= 0.0) return 0.0f;
    return static_cast<float>(std::sqrt(static_cast<double>(kPitchWindow)) * std::sqrt(squares) / magnitudes);
}

} // namespace vntr::vt15
