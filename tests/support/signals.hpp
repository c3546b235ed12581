// Test and benchmark signals: real recordings, tones, and a change of rate.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

namespace vntr::test {

// 16-bit little-endian raw samples; empty when the file cannot be read.
inline std::vector<int16_t> ReadRaw(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> x(bytes.size() / 2);
    std::memcpy(x.data(), bytes.data(), x.size() * 2);
    return x;
}

inline std::vector<int16_t> Tone(std::size_t n, double freq, double rate, double amplitude) {
    std::vector<int16_t> x(n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * std::numbers::pi * freq * i / rate)));
    return x;
}

// Band-limited change of rate (Hann-windowed sinc, 32 taps).
inline std::vector<int16_t> Resample(const std::vector<int16_t> &x, double from, double to) {
    const double ratio = from / to;
    const double cutoff = std::min(1.0, to / from) * 0.95;
    const int half = 16;
    std::vector<int16_t> y(static_cast<std::size_t>(x.size() / ratio));
    for (std::size_t n = 0; n < y.size(); ++n) {
        const double t = n * ratio;
        const auto centre = static_cast<long>(t);
        double acc = 0;
        for (long k = centre - half + 1; k <= centre + half; ++k) {
            if (k < 0 || k >= static_cast<long>(x.size())) continue;
            const double d = t - static_cast<double>(k);
            const double arg = std::numbers::pi * cutoff * d;
            const double sinc = d == 0 ? 1.0 : std::sin(arg) / arg;
            const double window = 0.5 + 0.5 * std::cos(std::numbers::pi * d / half);
            acc += x[static_cast<std::size_t>(k)] * cutoff * sinc * window;
        }
        y[n] = static_cast<int16_t>(std::clamp(std::lround(acc), -32768L, 32767L));
    }
    return y;
}

} // namespace vntr::test
