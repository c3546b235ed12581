// The polyphase banks: analysis followed by synthesis must give the input
// back, 481 samples late, at about 86 dB (the limit of the bank itself).
#include "filterbank.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::audiocoder {
namespace {

std::vector<float> RoundTrip(const std::vector<float> &input) {
    AnalysisState a{};
    SynthesisState s{};
    ResetAnalysis(a);
    ResetSynthesis(s);
    std::vector<float> out(input.size());
    for (std::size_t b = 0; b + 32 <= input.size(); b += 32) {
        float sub[32];
        Analyse(a, &input[b], sub);
        Synthesise(s, sub, &out[b]);
    }
    return out;
}

double SnrAtDelay(const std::vector<float> &in, const std::vector<float> &out, std::size_t delay) {
    double signal = 0, noise = 0;
    for (std::size_t n = 1024; n < out.size(); ++n) {
        const double ref = in[n - delay];
        const double err = std::round(out[n]) - ref;
        signal += ref * ref;
        noise += err * err;
    }
    return 10 * std::log10(signal / noise);
}

TEST(FilterBank, AnalysisThenSynthesisReconstructsTheInput) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> noise(-2000, 2000);
    std::vector<float> in(23040);
    for (std::size_t n = 0; n < in.size(); ++n)
        in[n] = static_cast<float>(std::round(8000 * std::sin(2 * std::numbers::pi * 440 * n / 8000.0) + noise(rng)));
    const auto out = RoundTrip(in);
    EXPECT_GT(SnrAtDelay(in, out, 481), 80.0);
    // One sample off, the reconstruction falls apart: the delay is exact.
    EXPECT_LT(SnrAtDelay(in, out, 480), 20.0);
    EXPECT_LT(SnrAtDelay(in, out, 482), 20.0);
}

TEST(FilterBank, ASineLandsInItsOwnSubband) {
    // 1000 Hz at 8000 Hz sits in the middle of subband 8 (each band is 125 Hz wide).
    AnalysisState a{};
    ResetAnalysis(a);
    std::vector<double> energy(32, 0.0);
    for (int b = 0; b < 200; ++b) {
        float block[32], sub[32];
        for (int t = 0; t < 32; ++t)
            block[t] =
                static_cast<float>(16000 * std::sin(2 * std::numbers::pi * (1000.0 + 62.5) * (32 * b + t) / 8000));
        Analyse(a, block, sub);
        if (b >= 20)
            for (int k = 0; k < 32; ++k) energy[static_cast<std::size_t>(k)] += sub[k] * sub[k];
    }
    double total = 0;
    for (double e : energy) total += e;
    EXPECT_GT(energy[8] / total, 0.99);
}

TEST(FilterBank, SilenceStaysSilent) {
    const auto out = RoundTrip(std::vector<float>(4096, 0.0f));
    for (float v : out) ASSERT_EQ(v, 0.0f);
}

} // namespace
} // namespace vntr::audiocoder
