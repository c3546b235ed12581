#include "gui/logic/signal_analysis.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace vntr::gui {
namespace {

struct PlanDeleter {
    void operator()(fftw_plan_s *plan) const { fftw_destroy_plan(plan); }
};
struct FftwFree {
    void operator()(void *p) const { fftw_free(p); }
};

} // namespace

int Spectrogram::ColumnAt(double seconds) const {
    if (columns == 0 || hop == 0 || sampleRate == 0) return 0;
    const double centre = seconds * sampleRate - fftSize / 2.0;
    return std::clamp(static_cast<int>(std::lround(centre / hop)), 0, columns - 1);
}

Spectrogram ComputeSpectrogram(std::span<const float> samples, int sampleRate, int maxColumns) {
    Spectrogram s;
    s.sampleRate = sampleRate;
    if (sampleRate <= 0 || samples.empty()) return s;
    int n = 64;
    while (n < sampleRate * 32 / 1000) n <<= 1;
    s.fftSize = n;
    s.bins = n / 2 + 1;
    const auto total = static_cast<int64_t>(samples.size());
    s.hop = n / 4;
    if (maxColumns > 0 && total / s.hop > maxColumns) s.hop = static_cast<int>((total + maxColumns - 1) / maxColumns);
    s.columns = static_cast<int>(std::max<int64_t>(1, (total - 1) / s.hop + 1));

    std::unique_ptr<double[], FftwFree> in(static_cast<double *>(fftw_malloc(sizeof(double) * n)));
    std::unique_ptr<fftw_complex[], FftwFree> out(
        static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(s.bins))));
    std::unique_ptr<fftw_plan_s, PlanDeleter> plan(fftw_plan_dft_r2c_1d(n, in.get(), out.get(), FFTW_ESTIMATE));
    std::vector<double> window(static_cast<std::size_t>(n));
    double windowSum = 0;
    for (int i = 0; i < n; ++i) {
        window[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n);
        windowSum += window[static_cast<std::size_t>(i)];
    }
    // 0 dB is the peak bin of a full-scale sine.
    const double fullScale = 32768.0 * windowSum / 2.0;
    const double reference = fullScale * fullScale;

    s.db.resize(static_cast<std::size_t>(s.columns) * s.bins);
    for (int c = 0; c < s.columns; ++c) {
        const int64_t start = static_cast<int64_t>(c) * s.hop;
        for (int i = 0; i < n; ++i) {
            const int64_t at = start + i;
            const double x = at < total ? samples[static_cast<std::size_t>(at)] : 0.0;
            in[static_cast<std::size_t>(i)] = x * window[static_cast<std::size_t>(i)];
        }
        fftw_execute(plan.get());
        for (int b = 0; b < s.bins; ++b) {
            const double re = out[b][0];
            const double im = out[b][1];
            const double power = (re * re + im * im) / reference;
            const auto value = static_cast<float>(10.0 * std::log10(std::max(power, 1e-20)));
            s.db[static_cast<std::size_t>(c) * s.bins + b] = value;
            s.peakDb = std::max(s.peakDb, value);
        }
    }
    return s;
}

Envelope WaveEnvelope(std::span<const float> samples, double first, double count, int columns) {
    Envelope e;
    if (columns <= 0) return e;
    e.low.assign(static_cast<std::size_t>(columns), 0.0f);
    e.high.assign(static_cast<std::size_t>(columns), 0.0f);
    const auto total = static_cast<int64_t>(samples.size());
    const double step = count / columns;
    for (int c = 0; c < columns; ++c) {
        auto from = static_cast<int64_t>(std::floor(first + c * step));
        auto to = static_cast<int64_t>(std::floor(first + (c + 1) * step));
        if (to <= from) to = from + 1;
        from = std::max<int64_t>(from, 0);
        to = std::min(to, total);
        if (from >= to) continue;
        const auto [lo, hi] = std::minmax_element(samples.begin() + from, samples.begin() + to);
        e.low[static_cast<std::size_t>(c)] = *lo;
        e.high[static_cast<std::size_t>(c)] = *hi;
    }
    return e;
}

} // namespace vntr::gui
