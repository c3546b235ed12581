// The paired all-pole filter against AllPoleFilter on each signal, bit for
// bit, at the orders the coders run (10) and at odd and tiny ones.
#include <vntr/dsp/filters.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace vntr::dsp {
namespace {

// Histories and inputs of very different levels in the two lanes (so that a
// lane mixed into the other shows), sub-normal and overflowing ones, signed
// zeros, lengths from 0 past a few register widths, and the filter run in
// place as the encoders run it.
template <int Order>
void EachLaneIsAllPoleFilter(unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, 1.0f);
    const float levels[] = {1.0f, 3000.0f, 1e-30f, 1e30f, 0.0f};
    for (int trial = 0; trial < 200; ++trial) {
        const int length = trial % 67;
        // A stable set (coefficients falling off) or, now and then, an
        // unstable one that grows to infinity.
        float a[Order];
        for (int i = 0; i < Order; ++i)
            a[i] = 0.3f * g(rng) * std::pow(trial % 7 == 0 ? 1.3f : 0.7f, static_cast<float>(i));
        const float level0 = levels[trial % 5], level1 = levels[(trial / 5) % 5];
        std::vector<float> x0(static_cast<std::size_t>(length)), x1(x0.size());
        std::vector<float> y0(static_cast<std::size_t>(Order + length)), y1(y0.size());
        for (std::size_t n = 0; n < x0.size(); ++n) {
            x0[n] = level0 * g(rng);
            x1[n] = (n % 3 == 0) ? -0.0f : level1 * g(rng);
        }
        for (int i = 0; i < Order; ++i) {
            y0[static_cast<std::size_t>(i)] = level0 * g(rng);
            y1[static_cast<std::size_t>(i)] = level1 * g(rng);
        }
        std::vector<float> want0 = y0, want1 = y1;
        AllPoleFilter(x0.data(), a, Order, want0.data() + Order, length);
        AllPoleFilter(x1.data(), a, Order, want1.data() + Order, length);
        const bool inPlace = trial % 2 == 1;
        if (inPlace) {
            // x aliases y: the input sits where the output goes.
            if (length > 0) {
                std::memcpy(y0.data() + Order, x0.data(), sizeof(float) * x0.size());
                std::memcpy(y1.data() + Order, x1.data(), sizeof(float) * x1.size());
            }
            AllPolePair<Order>(y0.data() + Order, y0.data() + Order, y1.data() + Order, y1.data() + Order, a, length);
        } else {
            AllPolePair<Order>(x0.data(), y0.data() + Order, x1.data(), y1.data() + Order, a, length);
        }
        EXPECT_EQ(std::memcmp(y0.data(), want0.data(), sizeof(float) * y0.size()), 0)
            << "order " << Order << " trial " << trial;
        EXPECT_EQ(std::memcmp(y1.data(), want1.data(), sizeof(float) * y1.size()), 0)
            << "order " << Order << " trial " << trial;
    }
}

TEST(AllPolePair, EachLaneIsAllPoleFilterBitForBit) {
    EachLaneIsAllPoleFilter<10>(41);
    EachLaneIsAllPoleFilter<9>(42);
    EachLaneIsAllPoleFilter<2>(43);
    EachLaneIsAllPoleFilter<1>(44);
}

} // namespace
} // namespace vntr::dsp
