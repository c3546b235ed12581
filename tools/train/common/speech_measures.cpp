#include "speech_measures.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vntr::train {

int FindDelay(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int maxDelay) {
    const std::size_t n = std::min(original.size(), decoded.size());
    int best = 0;
    double bestScore = -1.0;
    for (int d = 0; d <= maxDelay && static_cast<std::size_t>(d) < n; ++d) {
        double xy = 0.0;
        double yy = 0.0;
        for (std::size_t i = 0; i + static_cast<std::size_t>(d) < n; ++i) {
            const double x = original[i];
            const double y = decoded[i + static_cast<std::size_t>(d)];
            xy += x * y;
            yy += y * y;
        }
        const double score = yy > 0.0 && xy > 0.0 ? xy * xy / yy : 0.0;
        if (score > bestScore) {
            bestScore = score;
            best = d;
        }
    }
    return best;
}

namespace {

std::vector<double> AmplitudeEnvelope(const std::vector<int16_t> &x) {
    constexpr std::size_t kSpan = 128;
    std::vector<double> env(x.size() > kSpan ? x.size() - kSpan : 0);
    double sum = 0.0;
    for (std::size_t i = 0; i < std::min(kSpan, x.size()); ++i) sum += static_cast<double>(x[i]) * x[i];
    for (std::size_t i = 0; i < env.size(); ++i) {
        env[i] = std::sqrt(std::max(sum, 0.0) / kSpan);
        sum += static_cast<double>(x[i + kSpan]) * x[i + kSpan] - static_cast<double>(x[i]) * x[i];
    }
    double mean = 0.0;
    for (double v : env) mean += v;
    if (!env.empty()) mean /= static_cast<double>(env.size());
    for (double &v : env) v -= mean;
    return env;
}

} // namespace

int FindEnvelopeDelay(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int maxDelay) {
    const std::vector<double> a = AmplitudeEnvelope(original);
    const std::vector<double> b = AmplitudeEnvelope(decoded);
    int best = 0;
    double bestScore = -1e300;
    for (int d = 0; d <= maxDelay && static_cast<std::size_t>(d) < b.size(); ++d) {
        const std::size_t n = std::min(a.size(), b.size() - static_cast<std::size_t>(d));
        double xy = 0.0, yy = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            xy += a[i] * b[i + static_cast<std::size_t>(d)];
            yy += b[i + static_cast<std::size_t>(d)] * b[i + static_cast<std::size_t>(d)];
        }
        const double score = yy > 0.0 ? xy / std::sqrt(yy) : -1e300;
        if (score > bestScore) {
            bestScore = score;
            best = d;
        }
    }
    return best;
}

std::vector<int16_t> MatchEnergy(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int delay) {
    const std::size_t shift = static_cast<std::size_t>(delay);
    const std::size_t n = decoded.size() > shift ? std::min(original.size(), decoded.size() - shift) : 0;
    double xx = 0.0, yy = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        xx += static_cast<double>(original[i]) * original[i];
        yy += static_cast<double>(decoded[i + shift]) * decoded[i + shift];
    }
    const double g = yy > 0.0 ? std::sqrt(xx / yy) : 1.0;
    std::vector<int16_t> out(decoded.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        out[i] = static_cast<int16_t>(std::clamp(std::lround(g * decoded[i]), -32768L, 32767L));
    }
    return out;
}

Measures Measure(const std::vector<int16_t> &original, const std::vector<int16_t> &decoded, int delay,
                 bool matchLevel) {
    Measures m;
    m.delay = delay;
    const std::size_t shift = static_cast<std::size_t>(delay);
    const std::size_t n = decoded.size() > shift ? std::min(original.size(), decoded.size() - shift) : 0;
    {
        double xy = 0.0, yy = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            xy += static_cast<double>(original[i]) * decoded[i + shift];
            yy += static_cast<double>(decoded[i + shift]) * decoded[i + shift];
        }
        m.gain = yy > 0.0 ? xy / yy : 1.0;
    }
    const double scale = matchLevel ? m.gain : 1.0;
    auto x = [&](std::size_t i) { return static_cast<double>(original[i]); };
    auto y = [&](std::size_t i) { return scale * static_cast<double>(decoded[i + shift]); };

    double signal = 0.0;
    double noise = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        signal += x(i) * x(i);
        noise += (x(i) - y(i)) * (x(i) - y(i));
    }
    m.snr = 10.0 * std::log10((signal + 1e-9) / (noise + 1e-9));

    // Active frames: within 40 dB of the loudest 20 ms frame of the original.
    constexpr std::size_t kSeg = 160;
    double loudest = 0.0;
    for (std::size_t f = 0; f + kSeg <= n; f += kSeg) {
        double e = 0.0;
        for (std::size_t i = f; i < f + kSeg; ++i) e += x(i) * x(i);
        loudest = std::max(loudest, e);
    }
    const double floorEnergy = loudest * 1e-4;
    double sum = 0.0;
    int count = 0;
    for (std::size_t f = 0; f + kSeg <= n; f += kSeg) {
        double e = 0.0;
        double err = 0.0;
        for (std::size_t i = f; i < f + kSeg; ++i) {
            e += x(i) * x(i);
            err += (x(i) - y(i)) * (x(i) - y(i));
        }
        if (e <= floorEnergy || e == 0.0) continue;
        double snr = 10.0 * std::log10(e / (err + 1e-9));
        snr = std::clamp(snr, -10.0, 35.0);
        sum += snr;
        ++count;
    }
    m.segmentalSnr = count ? sum / count : 0.0;

    // Log-spectral distance over 256-sample Hann frames, hop 128.
    constexpr int kFft = 256;
    double *in = fftw_alloc_real(kFft);
    fftw_complex *out = fftw_alloc_complex(kFft / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(kFft, in, out, FFTW_ESTIMATE);
    std::vector<double> window(kFft);
    for (int i = 0; i < kFft; ++i) window[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kFft);
    auto spectrum = [&](auto sample, std::size_t start, std::vector<double> &power) {
        for (int i = 0; i < kFft; ++i) in[i] = sample(start + static_cast<std::size_t>(i)) * window[static_cast<std::size_t>(i)];
        fftw_execute(plan);
        power.resize(kFft / 2 + 1);
        for (int k = 0; k <= kFft / 2; ++k) power[static_cast<std::size_t>(k)] = out[k][0] * out[k][0] + out[k][1] * out[k][1];
    };
    double loudestSpectral = 0.0;
    for (std::size_t f = 0; f + kFft <= n; f += kFft / 2) {
        double e = 0.0;
        for (std::size_t i = f; i < f + kFft; ++i) e += x(i) * x(i);
        loudestSpectral = std::max(loudestSpectral, e);
    }
    std::vector<double> px;
    std::vector<double> py;
    double lsdSum = 0.0;
    int lsdCount = 0;
    // A floor 60 dB under the loudest frame's mean bin power keeps empty bins from dominating.
    const double binFloor = loudestSpectral * kFft * 0.375 * 1e-6 / (kFft / 2 + 1);
    for (std::size_t f = 0; f + kFft <= n; f += kFft / 2) {
        double e = 0.0;
        for (std::size_t i = f; i < f + kFft; ++i) e += x(i) * x(i);
        if (e <= loudestSpectral * 1e-4 || e == 0.0) continue;
        spectrum(x, f, px);
        spectrum(y, f, py);
        double d2 = 0.0;
        for (std::size_t k = 1; k < px.size() - 1; ++k) {
            const double d = 10.0 * std::log10((px[k] + binFloor) / (py[k] + binFloor));
            d2 += d * d;
        }
        lsdSum += std::sqrt(d2 / static_cast<double>(px.size() - 2));
        ++lsdCount;
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
    m.lsd = lsdCount ? lsdSum / lsdCount : 0.0;
    m.activeFrames = count;
    return m;
}

} // namespace vntr::train
