// The carried error weighting in one pass against its two stages one after
// the other: the target and the impulse response the same to the last bit.
#include "weighting.hpp"

#include <vntr/dsp/lpc.hpp>

#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <vector>

namespace vntr::vt48 {
namespace {

std::vector<float> Noise(std::size_t count, uint32_t seed, float scale) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> normal(0.0f, scale);
    std::vector<float> x(count);
    for (float &v : x) v = normal(rng);
    return x;
}

void ExpectSameWeighting(const float *a, const std::vector<float> &x, const std::vector<float> &memory, int length,
                         const char *what) {
    float numerator[10], denominator[10];
    dsp::BandwidthExpand(a, 10, 0.9f, numerator);
    dsp::BandwidthExpand(a, 10, 0.6f, denominator);
    const WeightingMemory m{memory.data(), memory.data() + 10, memory.data() + 20};
    std::vector<float> t0(54, -1.0f), h0(54, -1.0f), t1(54, -1.0f), h1(54, -1.0f);
    WeightingInStages<10, 54>(x.data(), a, numerator, denominator, m, length, t0.data(), h0.data());
    Weighting<10, 54>(x.data(), a, numerator, denominator, m, length, t1.data(), h1.data());
    for (std::size_t n = 0; n < t0.size(); ++n) {
        ASSERT_EQ(std::bit_cast<uint32_t>(t1[n]), std::bit_cast<uint32_t>(t0[n]))
            << what << " length " << length << " target " << n;
        ASSERT_EQ(std::bit_cast<uint32_t>(h1[n]), std::bit_cast<uint32_t>(h0[n]))
            << what << " length " << length << " h " << n;
    }
}

TEST(Weighting, OnePassIsTheTwoStagesBitForBit) {
    // A stable tenth-order predictor (poles of radius 0.95 and below) and a sharper one.
    const float smooth[10] = {-1.9f, 1.6f, -0.9f, 0.45f, -0.3f, 0.2f, -0.12f, 0.06f, -0.03f, 0.01f};
    float sharp[10];
    dsp::BandwidthExpand(smooth, 10, 1.02f, sharp);
    for (int length = 1; length <= 54; ++length) {
        ExpectSameWeighting(smooth, Noise(54, 1, 3000.0f), Noise(30, 2, 500.0f), length, "speech");
        ExpectSameWeighting(sharp, Noise(54, 3, 1.0f), Noise(30, 4, 1.0f), length, "sharp");
    }
}

TEST(Weighting, MemoriesOfEveryScaleAndSilence) {
    const float a[10] = {-1.2f, 0.8f, -0.3f, 0.1f, 0.05f, -0.02f, 0.01f, 0.0f, -0.01f, 0.005f};
    for (float scale : {0.0f, 1e-30f, 1e-5f, 3e4f, 1e18f}) {
        for (int length : {1, 3, 4, 5, 10, 11, 53, 54}) {
            ExpectSameWeighting(a, Noise(54, 5, scale), Noise(30, 6, scale), length, "scaled");
            // Speech with no memory, memory with no speech.
            ExpectSameWeighting(a, Noise(54, 7, scale), std::vector<float>(30, 0.0f), length, "no memory");
            ExpectSameWeighting(a, std::vector<float>(54, 0.0f), Noise(30, 8, scale), length, "no speech");
        }
    }
}

} // namespace
} // namespace vntr::vt48
