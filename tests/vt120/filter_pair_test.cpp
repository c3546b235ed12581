// The paired all-pole filter against dsp::AllPoleFilter on each signal, bit
// for bit.
#include "constants.hpp"
#include "filter_pair.hpp"

#include <vntr/dsp/filters.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace vntr::vt120 {
namespace {

// Histories and inputs of very different levels in the two lanes (so that a
// lane mixed into the other shows), sub-normal and overflowing ones, signed
// zeros, and the filter run in place as the encoder runs it.
TEST(AllPolePair, EachLaneIsAllPoleFilterBitForBit) {
    std::mt19937 rng(41);
    std::normal_distribution<float> g(0.0f, 1.0f);
    const float levels[] = {1.0f, 3000.0f, 1e-30f, 1e30f, 0.0f};
    for (int trial = 0; trial < 200; ++trial) {
        const int length = 1 + trial % kSubframeLength;
        // A stable set (a pole pair at radius 0.9 spread to order 10) or, now
        // and then, an unstable one that grows to infinity.
        float a[kOrder];
        for (int i = 0; i < kOrder; ++i) a[i] = 0.3f * g(rng) * std::pow(trial % 7 == 0 ? 1.3f : 0.7f, static_cast<float>(i));
        const float level0 = levels[trial % 5], level1 = levels[(trial / 5) % 5];
        std::vector<float> x0(static_cast<std::size_t>(length)), x1(x0.size());
        std::vector<float> y0(static_cast<std::size_t>(kOrder + length)), y1(y0.size());
        for (std::size_t n = 0; n < x0.size(); ++n) {
            x0[n] = level0 * g(rng);
            x1[n] = (n % 3 == 0) ? -0.0f : level1 * g(rng);
        }
        for (int i = 0; i < kOrder; ++i) {
            y0[static_cast<std::size_t>(i)] = level0 * g(rng);
            y1[static_cast<std::size_t>(i)] = level1 * g(rng);
        }
        std::vector<float> want0 = y0, want1 = y1;
        dsp::AllPoleFilter(x0.data(), a, kOrder, want0.data() + kOrder, length);
        dsp::AllPoleFilter(x1.data(), a, kOrder, want1.data() + kOrder, length);
        const bool inPlace = trial % 2 == 1;
        if (inPlace) {
            // x aliases y: the input sits where the output goes.
            std::memcpy(y0.data() + kOrder, x0.data(), sizeof(float) * x0.size());
            std::memcpy(y1.data() + kOrder, x1.data(), sizeof(float) * x1.size());
            AllPolePair<kOrder>(y0.data() + kOrder, y0.data() + kOrder, y1.data() + kOrder, y1.data() + kOrder, a,
                                length);
        } else {
            AllPolePair<kOrder>(x0.data(), y0.data() + kOrder, x1.data(), y1.data() + kOrder, a, length);
        }
        EXPECT_EQ(std::memcmp(y0.data(), want0.data(), sizeof(float) * y0.size()), 0) << "trial " << trial;
        EXPECT_EQ(std::memcmp(y1.data(), want1.data(), sizeof(float) * y1.size()), 0) << "trial " << trial;
    }
}

} // namespace
} // namespace vntr::vt120
