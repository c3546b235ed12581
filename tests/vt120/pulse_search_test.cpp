// The fixed-codebook search against the search one set at a time, and its
// plain, SSE2 and AVX2 walks against each other.  Also built into a program
// of its own with only the plain walk (the build without SSE2 or AVX2).
#include "bitstream.hpp"
#include "pulse_search.hpp"

#include <vntr/dsp/pulses.hpp>

#include "simd_kinds.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

namespace vntr::vt120 {
namespace {

// (sum of signed d at the pulses)^2 / ||h * c||^2 of one set, directly.
double PulseScore(const float *t, const float *h, const int *pos, const float *sign) {
    double z[kSubframeLength] = {};
    for (int j = 0; j < kPulses; ++j) {
        for (int n = pos[j]; n < kSubframeLength; ++n) z[n] += sign[j] * h[n - pos[j]];
    }
    double c = 0, e = 0;
    for (int n = 0; n < kSubframeLength; ++n) {
        c += t[n] * z[n];
        e += z[n] * z[n];
    }
    return c * c / e;
}

TEST(PulseSearch, FindsTheBestOfAll4096SetsWithTheSignsOfD) {
    std::mt19937 rng(21);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (int trial = 0; trial < 30; ++trial) {
        float h[kSubframeLength], t[kSubframeLength];
        for (int n = 0; n < kSubframeLength; ++n) {
            h[n] = std::pow(0.8f, static_cast<float>(n)) * (1.0f + 0.5f * g(rng));
            t[n] = 100.0f * g(rng);
        }
        float d[kSubframeLength];
        for (int n = 0; n < kSubframeLength; ++n) {
            d[n] = 0;
            for (int m = n; m < kSubframeLength; ++m) d[n] += t[m] * h[m - n];
        }
        double best = 0;
        for (int word = 0; word < 4096; ++word) {
            int pos[kPulses];
            PulsePositions(word, pos);
            float sign[kPulses];
            for (int j = 0; j < kPulses; ++j) sign[j] = d[pos[j]] >= 0 ? 1.0f : -1.0f;
            best = std::max(best, PulseScore(t, h, pos, sign));
        }
        const PulseChoice c = SearchPulses(t, h);
        int pos[kPulses];
        PulsePositions(c.positionWord, pos);
        for (int j = 0; j < kPulses; ++j) {
            EXPECT_EQ(pos[j], c.position[j]);
            EXPECT_EQ(c.sign[j], d[pos[j]] >= 0 ? 1.0f : -1.0f);
            EXPECT_EQ((c.signs >> j) & 1, c.sign[j] > 0 ? 1 : 0);
        }
        EXPECT_GE(PulseScore(t, h, c.position, c.sign), best * (1.0 - 1e-4)) << trial;
    }
}

// The pulse search one set at a time in code order (k0 slowest, m3 fastest;
// word = k0 + 8 m1 + 64 m2 + 512 m3), from Phi by its
// definition, with each set's sums in the order the encoder keeps:
// c = ((d0 + d1) + d2) + d3 and e = ((e1 + Phi22) + 2 (Phi02 + Phi12)) +
// (b3 + 2 Phi23).  Returns the position word.
int PlainPulseSearch(const float *t, const float *h) {
    float d[kSubframeLength];
    dsp::BackwardFilter(t, h, kSubframeLength, d);
    float s[kSubframeLength];
    for (int n = 0; n < kSubframeLength; ++n) {
        s[n] = d[n] >= 0.0f ? 1.0f : -1.0f;
        d[n] *= s[n];
    }
    const auto phi = [&](int i, int j) {
        const int lo = std::min(i, j), hi = std::max(i, j);
        float r = 0.0f;
        for (int m = 0; m <= kSubframeLength - 1 - hi; ++m) r += h[m] * h[m + hi - lo];
        return r * s[i] * s[j];
    };
    float bestC2 = 0.0f, bestE = 1.0f;
    int bestWord = 0;
    for (int code = 0; code < 4096; ++code) {
        const int word = (code >> 9) | ((code >> 6) & 7) << 3 | ((code >> 3) & 7) << 6 | (code & 7) << 9;
        int p[kPulses];
        PulsePositions(word, p);
        const float c = ((d[p[0]] + d[p[1]]) + d[p[2]]) + d[p[3]];
        const float e1 = phi(p[0], p[0]) + phi(p[1], p[1]) + 2.0f * phi(p[0], p[1]);
        const float e2 = e1 + phi(p[2], p[2]) + 2.0f * (phi(p[0], p[2]) + phi(p[1], p[2]));
        const float b3 = phi(p[3], p[3]) + 2.0f * (phi(p[0], p[3]) + phi(p[1], p[3]));
        const float e = e2 + (b3 + 2.0f * phi(p[2], p[3]));
        if (c * c * bestE > bestC2 * e) {
            bestC2 = c * c;
            bestE = e;
            bestWord = word;
        }
    }
    return bestWord;
}

TEST(PulseSearch, TakesExactlyThePlainSearchsSetIncludingTies) {
    std::mt19937 rng(77);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<std::pair<std::vector<float>, std::vector<float>>> cases; // (h, target)
    const auto add = [&](std::vector<float> hv, std::vector<float> tv) { cases.emplace_back(hv, tv); };
    for (int trial = 0; trial < 120; ++trial) {
        std::vector<float> hv(kSubframeLength), tv(kSubframeLength);
        const float decay = 0.5f + 0.45f * static_cast<float>(trial % 10) / 10.0f;
        for (int n = 0; n < kSubframeLength; ++n) {
            hv[static_cast<std::size_t>(n)] = std::pow(decay, static_cast<float>(n)) * (1.0f + 0.6f * g(rng));
            tv[static_cast<std::size_t>(n)] = (trial % 3 == 0 ? 1e4f : 50.0f) * g(rng);
        }
        add(hv, tv);
    }
    // Ties everywhere: a unit response makes every set's energy 4, and equal
    // or single-sample targets make many sets' c equal.
    std::vector<float> unit(kSubframeLength, 0.0f);
    unit[0] = 1.0f;
    add(unit, std::vector<float>(kSubframeLength, 3.0f));
    add(unit, std::vector<float>(kSubframeLength, -3.0f));
    for (int at : {0, 5, 17, 31}) {
        std::vector<float> tv(kSubframeLength, 0.0f);
        tv[static_cast<std::size_t>(at)] = 2.0f;
        add(unit, tv);
        std::vector<float> hv(kSubframeLength);
        for (int n = 0; n < kSubframeLength; ++n)
            hv[static_cast<std::size_t>(n)] = std::pow(0.7f, static_cast<float>(n));
        add(hv, tv);
    }
    std::vector<float> periodic(kSubframeLength);
    for (int n = 0; n < kSubframeLength; ++n) periodic[static_cast<std::size_t>(n)] = n % 4 == 1 ? 5.0f : -1.0f;
    add(unit, periodic);
    // A response that rings (large cross terms of both signs).
    std::vector<float> ring(kSubframeLength);
    for (int n = 0; n < kSubframeLength; ++n)
        ring[static_cast<std::size_t>(n)] =
            std::pow(0.97f, static_cast<float>(n)) * std::cos(2.6f * static_cast<float>(n));
    for (int trial = 0; trial < 10; ++trial) {
        std::vector<float> tv(kSubframeLength);
        for (float &x : tv) x = 300.0f * g(rng);
        add(ring, tv);
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto &[hv, tv] = cases[i];
        EXPECT_EQ(SearchPulses(tv.data(), hv.data()).positionWord, PlainPulseSearch(tv.data(), hv.data()))
            << "case " << i;
    }
}

// Every walk takes the plain walk's set whatever the input, also where the
// scores overflow to infinities and NaNs (and the row bounds then pass over
// rows the one-set-at-a-time search would visit), where they are sub-normal,
// and where many sets tie.
TEST(PulseSearch, EveryWalkTakesThePlainWalksSet) {
    std::mt19937 rng(78);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (float scale : {1.0f, 1e-22f, 1e-12f, 1e12f, 1e19f, 3e38f}) {
        for (int trial = 0; trial < 40; ++trial) {
            float h[kSubframeLength], t[kSubframeLength];
            const float decay = 0.5f + 0.49f * static_cast<float>(trial % 8) / 8.0f;
            for (int n = 0; n < kSubframeLength; ++n) {
                const float ring = trial % 4 == 3 ? std::cos(2.6f * static_cast<float>(n)) : 1.0f + 0.6f * g(rng);
                // Some responses at the scale too, some of unit scale.
                h[n] = (trial % 2 ? scale : 1.0f) * std::pow(decay, static_cast<float>(n)) * ring;
                t[n] = trial % 5 == 4 ? scale * static_cast<float>(n % 4 == 1) : scale * g(rng);
            }
            const PulseChoice plain = SearchPulses(t, h, Simd::Plain);
            if (scale <= 1e12f) {
                EXPECT_EQ(plain.positionWord, PlainPulseSearch(t, h)) << "scale " << scale << " trial " << trial;
            }
            for (Simd simd : test::SimdKinds()) {
                const PulseChoice c = SearchPulses(t, h, simd);
                EXPECT_EQ(c.positionWord, plain.positionWord)
                    << test::SimdName(simd) << " scale " << scale << " trial " << trial;
                EXPECT_EQ(c.signs, plain.signs) << test::SimdName(simd) << " scale " << scale << " trial " << trial;
            }
        }
    }
}

// The tuned encoder's search above a floor: with the seed it takes a set of
// the full search's score; a floor at that score or above finds nothing
// (without the seed) or keeps the seed only when the seed clears it; a floor
// just below finds that set again.  Every walk agrees on every floor.
TEST(PulseSearch, AboveAFloorTakesTheBestSetOnlyWhenItClearsTheFloor) {
    std::mt19937 rng(91);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (int trial = 0; trial < 60; ++trial) {
        float h[kSubframeLength], t[kSubframeLength];
        for (int n = 0; n < kSubframeLength; ++n) {
            h[n] = std::pow(0.85f, static_cast<float>(n)) * (1.0f + 0.5f * g(rng));
            t[n] = 100.0f * g(rng);
        }
        const PulseChoice full = SearchPulses(t, h);
        const double best = PulseScore(t, h, full.position, full.sign);
        for (Simd simd : test::SimdKinds()) {
            PulseChoice seeded{};
            ASSERT_TRUE(SearchPulsesAbove(t, h, 0.0f, simd, seeded, 3e38f));
            EXPECT_NEAR(PulseScore(t, h, seeded.position, seeded.sign), best, 1e-4 * best) << trial;
            int pos[kPulses];
            PulsePositions(seeded.positionWord, pos);
            for (int j = 0; j < kPulses; ++j) EXPECT_EQ(pos[j], seeded.position[j]);

            PulseChoice below{};
            ASSERT_TRUE(SearchPulsesAbove(t, h, static_cast<float>(best * 0.999), simd, below, 0.0f));
            EXPECT_EQ(below.positionWord, full.positionWord) << trial;
            EXPECT_EQ(below.signs, full.signs) << trial;

            PulseChoice untouched{};
            untouched.positionWord = 1234;
            EXPECT_FALSE(SearchPulsesAbove(t, h, static_cast<float>(best * 1.001), simd, untouched, 0.0f));
            EXPECT_FALSE(SearchPulsesAbove(t, h, static_cast<float>(best * 1.001), simd, untouched, 3e38f));
            EXPECT_EQ(untouched.positionWord, 1234);
        }
    }
}

TEST(PulseSearch, ZeroTargetKeepsTheFirstSet) {
    float h[kSubframeLength] = {1.0f, 0.3f};
    const float t[kSubframeLength] = {};
    const PulseChoice c = SearchPulses(t, h);
    EXPECT_EQ(c.positionWord, 0);
    EXPECT_EQ(c.signs, 15);
}

} // namespace
} // namespace vntr::vt120
