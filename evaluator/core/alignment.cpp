#include "alignment.hpp"

#include "quality.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vntr::evaluator {
namespace {

// A fixed generator, so that the signal is the same on every machine.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : state_(seed) {}
    double Uniform() { // 0..1
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 16777216.0;
    }
    double Between(double a, double b) { return a + (b - a) * Uniform(); }

private:
    uint32_t state_;
};

// A two-pole resonator at `frequency` with `bandwidth`, unity gain at its peak.
class Resonator {
public:
    Resonator(double frequency, double bandwidth, int rate) {
        const double r = std::exp(-M_PI * bandwidth / rate);
        a1_ = 2.0 * r * std::cos(2.0 * M_PI * frequency / rate);
        a2_ = -r * r;
        gain_ = (1.0 - r) * std::sqrt(1.0 - 2.0 * r * std::cos(4.0 * M_PI * frequency / rate) + r * r);
    }
    double Step(double x) {
        const double y = gain_ * x + a1_ * y1_ + a2_ * y2_;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double a1_ = 0, a2_ = 0, gain_ = 1, y1_ = 0, y2_ = 0;
};

// The rectified signal smoothed twice with a 4 ms time constant, its mean removed.
std::vector<float> Envelope(std::span<const float> x, int rate) {
    const double g = std::exp(-1.0 / (0.004 * rate));
    std::vector<float> e(x.size());
    double p = 0;
    double q = 0;
    double sum = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        p = g * p + (1.0 - g) * std::fabs(x[i]);
        q = g * q + (1.0 - g) * p;
        e[i] = static_cast<float>(q);
        sum += q;
    }
    const float mean = x.empty() ? 0.0f : static_cast<float>(sum / static_cast<double>(x.size()));
    for (auto &v : e) v -= mean;
    return e;
}

double NormalisedCorrelation(std::span<const float> x, std::span<const float> y, std::size_t lag) {
    double xy = 0, xx = 0, yy = 0;
    for (std::size_t i = 0; i < x.size() && i + lag < y.size(); ++i) {
        xy += static_cast<double>(x[i]) * y[i + lag];
        xx += static_cast<double>(x[i]) * x[i];
        yy += static_cast<double>(y[i + lag]) * y[i + lag];
    }
    return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0.0;
}

} // namespace

std::vector<float> CalibrationSignal(int sampleRate) {
    const int rate = std::max(sampleRate, 1000);
    Lcg random(0x5EED1234u);
    std::vector<float> out;
    const auto total = static_cast<std::size_t>(4.0 * rate);
    out.reserve(total);
    // A short stretch of faint noise first, then syllables and gaps.
    auto gap = [&](double seconds) {
        const auto n = static_cast<std::size_t>(seconds * rate);
        for (std::size_t i = 0; i < n && out.size() < total; ++i)
            out.push_back(static_cast<float>(random.Between(-30, 30)));
    };
    gap(0.15);
    const double formants[][3] = {{700, 1220, 2600}, {300, 2300, 3000}, {500, 900, 2400}, {400, 1900, 2550}};
    while (out.size() < total) {
        const double seconds = random.Between(0.06, 0.28);
        const double level = 3000.0 * std::pow(10.0, random.Between(-9.0, 3.0) / 20.0);
        const auto &f = formants[static_cast<std::size_t>(random.Uniform() * 4) % 4];
        std::vector<Resonator> tract;
        for (int k = 0; k < 3; ++k) {
            if (f[k] < 0.45 * rate) tract.emplace_back(f[k], 80.0 + 40.0 * k, rate);
        }
        const double pitchStart = random.Between(90, 220);
        const double pitchEnd = pitchStart * random.Between(0.8, 1.25);
        const auto n = static_cast<std::size_t>(seconds * rate);
        double phase = 0;
        for (std::size_t i = 0; i < n && out.size() < total; ++i) {
            const double t = static_cast<double>(i) / static_cast<double>(n);
            const double pitch = pitchStart + (pitchEnd - pitchStart) * t;
            phase += pitch / rate;
            double excitation = 0;
            if (phase >= 1.0) {
                phase -= 1.0;
                excitation = 1.0;
            }
            excitation += 0.02 * random.Between(-1, 1);
            double y = 0;
            for (auto &r : tract) y += r.Step(excitation);
            // Rises and falls over 20 ms.
            const double edge = std::min({1.0, t * seconds / 0.02, (1.0 - t) * seconds / 0.02});
            out.push_back(static_cast<float>(level * 12.0 * edge * y));
        }
        gap(random.Between(0.04, 0.22));
    }
    out.resize(total);
    for (auto &v : out) v = std::clamp(v, -32000.0f, 32000.0f);
    return out;
}

int FindAlignment(std::span<const float> reference, std::span<const float> decoded, int sampleRate, int maxLag) {
    if (reference.empty() || decoded.empty() || maxLag <= 0) return 0;
    const std::vector<float> er = Envelope(reference, sampleRate);
    const std::vector<float> ed = Envelope(decoded, sampleRate);
    const int coarse = FindDelay(er, ed, maxLag);
    // The waveform decides within five milliseconds of the envelope's lag
    // (the envelopes' peak is that broad) when it follows the input there.
    const int reach = std::max(1, sampleRate / 200);
    int best = coarse;
    double bestValue = 0.5;
    for (int lag = std::max(0, coarse - reach); lag <= std::min(maxLag, coarse + reach); ++lag) {
        const double c = NormalisedCorrelation(reference, decoded, static_cast<std::size_t>(lag));
        if (c > bestValue) {
            bestValue = c;
            best = lag;
        }
    }
    return best;
}

std::optional<int> AlignmentTable::Find(const std::string &key) const {
    const std::lock_guard<std::mutex> hold(lock_);
    const auto it = delays_.find(key);
    if (it == delays_.end()) return std::nullopt;
    return it->second;
}

int AlignmentTable::Store(const std::string &key, int delay) {
    const std::lock_guard<std::mutex> hold(lock_);
    return delays_.emplace(key, delay).first->second;
}

std::map<std::string, int> AlignmentTable::All() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return delays_;
}

} // namespace vntr::evaluator
