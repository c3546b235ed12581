#include "gui/logic/signal_analysis.hpp"

#include "core/quality.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <numbers>
#include <numeric>

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

struct SpectrogramFrames::Fft {
    std::unique_ptr<double[], FftwFree> in;
    std::unique_ptr<fftw_complex[], FftwFree> out;
    std::unique_ptr<fftw_plan_s, PlanDeleter> plan;
};

SpectrogramFrames::SpectrogramFrames(int sampleRate, int64_t length) : length_(std::max<int64_t>(length, 0)) {
    layout_.sampleRate = sampleRate;
    if (sampleRate <= 0 || length_ == 0) return;
    // As ComputeSpectrogram without a limit on the frames.
    int n = 64;
    while (n < sampleRate * 32 / 1000) n <<= 1;
    layout_.fftSize = n;
    layout_.bins = n / 2 + 1;
    layout_.hop = n / 4;
    layout_.columns = static_cast<int>(std::max<int64_t>(1, (length_ - 1) / layout_.hop + 1));
    window_.resize(static_cast<std::size_t>(n));
    double windowSum = 0;
    for (int i = 0; i < n; ++i) {
        window_[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n);
        windowSum += window_[static_cast<std::size_t>(i)];
        windowSquares_ += window_[static_cast<std::size_t>(i)] * window_[static_cast<std::size_t>(i)];
    }
    const double fullScale = 32768.0 * windowSum / 2.0;
    reference_ = fullScale * fullScale;
    samples_.resize(static_cast<std::size_t>(n));
    fft_ = std::make_unique<Fft>();
    fft_->in.reset(static_cast<double *>(fftw_malloc(sizeof(double) * n)));
    fft_->out.reset(
        static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * static_cast<std::size_t>(layout_.bins))));
    const std::lock_guard<std::mutex> hold(evaluator::FftwPlannerLock());
    fft_->plan.reset(fftw_plan_dft_r2c_1d(n, fft_->in.get(), fft_->out.get(), FFTW_ESTIMATE));
}

SpectrogramFrames::~SpectrogramFrames() {
    if (fft_ && fft_->plan) {
        const std::lock_guard<std::mutex> hold(evaluator::FftwPlannerLock());
        fft_->plan.reset();
    }
}

void SpectrogramFrames::Transform(int column, const SampleReader &read) {
    const int n = layout_.fftSize;
    const int64_t start = static_cast<int64_t>(column) * layout_.hop;
    const std::size_t got =
        start < length_ ? std::min(read(start, std::span<float>(samples_)), samples_.size()) : std::size_t{0};
    std::fill(samples_.begin() + static_cast<std::ptrdiff_t>(got), samples_.end(), 0.0f);
    for (int i = 0; i < n; ++i) {
        // Zeros past the end of the signal, as ComputeSpectrogram reads them.
        const double x = start + i < length_ ? samples_[static_cast<std::size_t>(i)] : 0.0;
        fft_->in[static_cast<std::size_t>(i)] = x * window_[static_cast<std::size_t>(i)];
    }
    fftw_execute(fft_->plan.get());
}

void SpectrogramFrames::Frame(int column, const SampleReader &read, std::span<float> out) {
    if (!fft_) return;
    Transform(column, read);
    const auto bins = std::min<std::size_t>(out.size(), static_cast<std::size_t>(layout_.bins));
    for (std::size_t b = 0; b < bins; ++b) {
        const double re = fft_->out[b][0];
        const double im = fft_->out[b][1];
        const double power = (re * re + im * im) / reference_;
        out[b] = static_cast<float>(10.0 * std::log10(std::max(power, 1e-20)));
    }
}

double SpectrogramFrames::PeakPower(int column, const SampleReader &read) {
    if (!fft_) return 0;
    Transform(column, read);
    double peak = 0;
    for (int b = 0; b < layout_.bins; ++b) {
        const double re = fft_->out[b][0];
        const double im = fft_->out[b][1];
        peak = std::max(peak, re * re + im * im);
    }
    return peak / reference_;
}

double SpectrogramFrames::PowerBound(double energy) const {
    // |X_k| <= sum |x_i| w_i <= sqrt(sum x_i^2 * sum w_i^2) (Cauchy-Schwarz),
    // with a little room for rounding.
    return energy * windowSquares_ / reference_ * (1.0 + 1e-9);
}

namespace {

double PowerDb(double power) {
    return std::max(-200.0, 10.0 * std::log10(std::max(power, 1e-20)));
}

// The strongest bin's power over the frames of a signal, transforming only
// the frames whose bound exceeds `needed(best so far)`: the power below
// which no frame can change the answer.
template <typename Needed>
double PeakSearch(int sampleRate, int64_t length, std::span<const double> hopEnergy, const SampleReader &read,
                  Needed needed) {
    SpectrogramFrames frames(sampleRate, length);
    const Spectrogram &layout = frames.Layout();
    double best = 0;
    if (layout.columns == 0 || layout.hop == 0) return best;
    // A frame is four hops from its column's hop on.
    const std::size_t hops = hopEnergy.size();
    std::vector<std::pair<double, int>> bounds;
    bounds.reserve(static_cast<std::size_t>(layout.columns));
    for (int c = 0; c < layout.columns; ++c) {
        double energy = 0;
        for (std::size_t h = static_cast<std::size_t>(c); h < std::min(hops, static_cast<std::size_t>(c) + 4); ++h)
            energy += hopEnergy[h];
        if (energy > 0) bounds.emplace_back(frames.PowerBound(energy), c);
    }
    // The loudest few first, for a first peak; then every frame whose bound
    // lies above what is needed, in the order of the signal (reads that
    // follow each other are cheap).
    const auto byBound = [](const auto &a, const auto &b) { return a.first > b.first; };
    const std::size_t first = std::min<std::size_t>(bounds.size(), 64);
    std::nth_element(bounds.begin(), bounds.begin() + static_cast<std::ptrdiff_t>(first), bounds.end(), byBound);
    std::sort(bounds.begin(), bounds.begin() + static_cast<std::ptrdiff_t>(first),
              [](const auto &a, const auto &b) { return a.second < b.second; });
    for (std::size_t i = 0; i < first; ++i) best = std::max(best, frames.PeakPower(bounds[i].second, read));
    std::vector<std::pair<double, int>> rest;
    for (std::size_t i = first; i < bounds.size(); ++i) {
        if (bounds[i].first > needed(best)) rest.push_back(bounds[i]);
    }
    std::sort(rest.begin(), rest.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
    for (const auto &[bound, c] : rest) {
        if (bound > needed(best)) best = std::max(best, frames.PeakPower(c, read));
    }
    return best;
}

} // namespace

double SpectrumPeakDb(int sampleRate, int64_t length, std::span<const double> hopEnergy, const SampleReader &read) {
    return PowerDb(PeakSearch(sampleRate, length, hopEnergy, read, [](double best) { return best; }));
}

double SpectrumCeilingDb(int sampleRate, int64_t length, std::span<const double> hopEnergy, const SampleReader &read,
                         double stepDb) {
    const auto ceiling = [stepDb](double power) { return std::ceil(PowerDb(power) / stepDb) * stepDb; };
    // A frame matters only if it can reach above the step the best found lies in.
    const auto needed = [&ceiling](double best) {
        const double top = ceiling(best);
        return top <= -200.0 ? 0.0 : std::pow(10.0, top / 10.0);
    };
    return ceiling(PeakSearch(sampleRate, length, hopEnergy, read, needed));
}

} // namespace vntr::gui
