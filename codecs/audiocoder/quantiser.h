// Scale factors and the quantiser classes of the Layer II family.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>

namespace vntr::audiocoder {

// Constants of one quantiser class: encoder c' = A*c + B; decoder
// value = (f + D) / A.
struct QuantClass {
    uint32_t levels;
    float a;
    float b;
    float d;
};

// All seventeen classes of the standard; the coder uses the first seven.
constexpr std::array<QuantClass, 17> kQuantClasses = [] {
    std::array<QuantClass, 17> t{};
    t[0] = {3, 0.75f, -0.25f, 0.5f};
    t[1] = {5, 0.625f, -0.375f, 0.5f};
    t[2] = {7, 0.875f, -0.125f, 0.25f};
    t[3] = {9, 0.5625f, -0.4375f, 0.5f};
    // 2^n - 1 levels for n = 4..16: A = 1 - 2^-n, B = -2^-n, D = 2^-(n-1).
    for (int n = 4; n <= 16; ++n) {
        const double step = 1.0 / static_cast<double>(1u << n);
        t[static_cast<std::size_t>(n)] = {(1u << n) - 1, static_cast<float>(1.0 - step), static_cast<float>(-step),
                                          static_cast<float>(2.0 * step)};
    }
    return t;
}();

constexpr int kScaleFactorCount = 64;
constexpr int kLargestEncoderIndex = 62; // index 63 (1e-20) is never chosen by the encoder

// value(i) = 2^(1 - i/3) for i = 0..62, value(63) = 1e-20.
struct ScaleFactorTable {
    std::array<float, kScaleFactorCount> value;
    ScaleFactorTable() {
        for (int i = 0; i < kLargestEncoderIndex + 1; ++i)
            value[static_cast<std::size_t>(i)] = static_cast<float>(std::exp2(1.0 - i / 3.0));
        value[63] = 1.0e-20f;
    }
};

inline const ScaleFactorTable &ScaleFactors() {
    static const ScaleFactorTable table;
    return table;
}

} // namespace vntr::audiocoder
