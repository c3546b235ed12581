#include "envelope_alignment.hpp"

#include <algorithm>
#include <cmath>

namespace vntr::train {

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

} // namespace vntr::train
