#include "frame_quality.hpp"

#include "quality.hpp"
#include "quality_measures.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace vntr::evaluator {
namespace {

struct PlanDeleter {
    void operator()(fftw_plan_s *plan) const {
        const std::lock_guard<std::mutex> hold(FftwPlannerLock());
        fftw_destroy_plan(plan);
    }
};
struct FftwFree {
    void operator()(void *p) const { fftw_free(p); }
};

double Energy(std::span<const float> x) {
    double e = 0;
    for (const float v : x) e += static_cast<double>(v) * v;
    return e;
}

// The aligned overlap of the two signals.
struct Aligned {
    std::span<const float> x;
    std::span<const float> y;
};

Aligned Align(std::span<const float> reference, std::span<const float> decoded, int delay) {
    if (delay < 0 || static_cast<std::size_t>(delay) >= decoded.size()) return {};
    const std::size_t overlap = std::min(reference.size(), decoded.size() - static_cast<std::size_t>(delay));
    return {reference.first(overlap), decoded.subspan(static_cast<std::size_t>(delay), overlap)};
}

// Activity threshold of the reference's 20 ms segments.
double SegmentActivity(std::span<const float> x, std::size_t segment) {
    double loudest = 0;
    for (std::size_t s = 0; s + segment <= x.size(); s += segment)
        loudest = std::max(loudest, Energy(x.subspan(s, segment)));
    return measure::ActivityThreshold(loudest);
}

} // namespace

double FrameCurve::ActiveMean() const {
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = 0; i < db.size(); ++i) {
        if (active[i] == 0) continue;
        sum += db[i];
        ++n;
    }
    return n > 0 ? sum / static_cast<double>(n) : 0.0;
}

FrameQuality MeasureFrames(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                           int delaySamples) {
    FrameQuality q;
    if (sampleRate <= 0) return q;
    const auto [x, y] = Align(reference, decoded, delaySamples);
    if (x.empty()) return q;
    q.valid = true;
    const double rate = sampleRate;

    const std::size_t segment = measure::SegmentLength(sampleRate);
    const double activity = SegmentActivity(x, segment);
    q.snr.frameSeconds = q.snr.stepSeconds = static_cast<double>(segment) / rate;
    q.snr.firstCentreSeconds = q.snr.frameSeconds / 2;
    for (std::size_t at = 0; at + segment <= x.size(); at += segment) {
        const double e = Energy(x.subspan(at, segment));
        double noise = 0;
        for (std::size_t i = at; i < at + segment; ++i) {
            const double d = static_cast<double>(x[i]) - y[i];
            noise += d * d;
        }
        q.snr.db.push_back(static_cast<float>(measure::ClampedSegmentSnr(e, noise)));
        q.snr.active.push_back(e > activity && e != 0 ? 1 : 0);
    }

    const std::size_t frame = measure::SpectralFrameLength(sampleRate);
    const std::size_t hop = frame / 2;
    const std::size_t bins = frame / 2 + 1;
    q.lsd.frameSeconds = static_cast<double>(frame) / rate;
    q.lsd.stepSeconds = static_cast<double>(hop) / rate;
    q.lsd.firstCentreSeconds = q.lsd.frameSeconds / 2;
    if (x.size() < frame) return q;
    std::unique_ptr<double[], FftwFree> in(static_cast<double *>(fftw_malloc(sizeof(double) * frame)));
    std::unique_ptr<fftw_complex[], FftwFree> spectrum(
        static_cast<fftw_complex *>(fftw_malloc(sizeof(fftw_complex) * bins)));
    std::unique_ptr<fftw_plan_s, PlanDeleter> plan;
    {
        const std::lock_guard<std::mutex> hold(FftwPlannerLock());
        plan.reset(fftw_plan_dft_r2c_1d(static_cast<int>(frame), in.get(), spectrum.get(), FFTW_ESTIMATE));
    }
    std::vector<double> window(frame);
    for (std::size_t i = 0; i < frame; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(frame));
    }
    auto power = [&](std::span<const float> part, std::vector<double> &out) {
        for (std::size_t i = 0; i < frame; ++i) in[i] = part[i] * window[i];
        fftw_execute(plan.get());
        for (std::size_t k = 0; k < bins; ++k)
            out[k] = spectrum[k][0] * spectrum[k][0] + spectrum[k][1] * spectrum[k][1];
    };
    const double frameActivity = activity * static_cast<double>(frame) / static_cast<double>(segment);
    std::vector<double> a(bins);
    std::vector<double> b(bins);
    for (std::size_t at = 0; at + frame <= x.size(); at += hop) {
        power(x.subspan(at, frame), a);
        power(y.subspan(at, frame), b);
        q.lsd.db.push_back(static_cast<float>(FrameSpectralDistance(a, b)));
        q.lsd.active.push_back(Energy(x.subspan(at, frame)) > frameActivity ? 1 : 0);
    }
    return q;
}

double LevelMatchGain(std::span<const float> reference, std::span<const float> decoded, int sampleRate,
                      int delaySamples) {
    const auto [x, y] = Align(reference, decoded, delaySamples);
    const std::size_t segment = measure::SegmentLength(sampleRate);
    if (sampleRate <= 0 || x.size() < segment) return 1.0;
    const double activity = SegmentActivity(x, segment);
    double signal = 0;
    double level = 0;
    for (std::size_t at = 0; at + segment <= x.size(); at += segment) {
        const double e = Energy(x.subspan(at, segment));
        if (e <= activity || e == 0) continue;
        signal += e;
        level += Energy(y.subspan(at, segment));
    }
    return signal > 0 && level > 0 ? std::sqrt(signal / level) : 1.0;
}

} // namespace vntr::evaluator
