// The LSF quantiser: the decoder's rebuilding, the encoder's sequential
// choice, and that the two agree.
#include "lsf.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>
#include <random>

namespace vntr::vt48 {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;
using Indices = std::array<uint16_t, kOrder>;

TEST(LsfTables, AreIncreasingWithTheirFixedEnds) {
    for (int k = 0; k < kEvenLsfTables; ++k) {
        EXPECT_FLOAT_EQ(kEvenLsf.first(k), kEvenLsfFirst[k]) << "table " << k;
        EXPECT_FLOAT_EQ(kEvenLsf.last(k), kEvenLsfLast[k]) << "table " << k;
        for (int j = 1; j < kEvenLsfSize[k]; ++j) EXPECT_LT(kEvenLsf.at(k, j - 1), kEvenLsf.at(k, j)) << k << ":" << j;
    }
    for (int k = 0; k < kOrder / 2; ++k) {
        EXPECT_EQ(kOddLsf[k].levels, 1 << kLsfBits[2 * k + 1]);
        // The lower half climbs to 1.0 (the midpoint); the upper part stays below it.
        const int split = kOddLsf[k].levels / 2 + 1;
        EXPECT_FLOAT_EQ(kOddLsf[k].fraction[split - 1], 1.0f);
        for (int j = split; j < kOddLsf[k].levels; ++j) EXPECT_LT(kOddLsf[k].fraction[j], 1.0f);
    }
}

TEST(LsfDecode, OddLsfsCountFromTheLowerOrTheUpperNeighbour) {
    Indices index{};
    index[0] = 2;
    index[2] = 5;
    const float lo = kEvenLsf.at(0, 2);
    const float hi = kEvenLsf.at(1, 5);
    const float h = (hi - lo) / 2;
    index[1] = 0;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[1], lo + h * 0.049f);
    index[1] = 8;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[1], lo + h); // the midpoint
    index[1] = 9;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[1], hi - h * 0.0558f);
    index[1] = 15;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[1], hi - h * 0.7723f);

    // LSF 7 (four levels): 0.1775, 0.4811, 1.0 from below, 0.3091 from above.
    index[6] = 3;
    index[8] = 4;
    const float lo7 = kEvenLsf.at(3, 3);
    const float hi7 = kEvenLsf.at(4, 4);
    index[7] = 2;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[7], (lo7 + hi7) / 2);
    index[7] = 3;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[7], hi7 - (hi7 - lo7) / 2 * 0.3091f);

    // LSF 9 lies between LSF 8 and pi.
    index[9] = 0;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[9], hi7 + (kPi - hi7) / 2 * 0.3091f);
    index[9] = 1;
    EXPECT_FLOAT_EQ(DecodeLsf(index)[9], (hi7 + kPi) / 2);
}

TEST(LsfDecode, OrderTestAllowsEqualNeighboursOnly) {
    Lsf lsf = InitialLsf();
    EXPECT_TRUE(IsOrdered(lsf));
    lsf[4] = lsf[5];
    EXPECT_TRUE(IsOrdered(lsf));
    lsf[4] = lsf[5] + 1e-4f;
    EXPECT_FALSE(IsOrdered(lsf));
    // Even entries taken from overlapping tables can cross: LSF 0's last above LSF 2's first.
    Indices index{};
    index[0] = static_cast<uint16_t>(kEvenLsfSize[0] - 1);
    index[2] = 0;
    EXPECT_FALSE(IsOrdered(DecodeLsf(index)));
}

Lsf RandomEnvelope(std::mt19937 &rng) {
    std::uniform_real_distribution<float> u(0.02f, kPi - 0.02f);
    Lsf lsf;
    for (auto &v : lsf) v = u(rng);
    std::sort(lsf.begin(), lsf.end());
    return lsf;
}

TEST(LsfQuantiser, AlwaysGivesAnIncreasingSet) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 20000; ++trial) {
        Lsf lsf = RandomEnvelope(rng);
        if (trial % 10 == 0) std::reverse(lsf.begin(), lsf.end()); // what a failed root search could hand over
        Indices index;
        const Lsf q = QuantiseLsf(lsf, index);
        for (int i = 0; i + 1 < kOrder; ++i)
            ASSERT_LT(q[static_cast<std::size_t>(i)], q[static_cast<std::size_t>(i + 1)]);
        ASSERT_LT(q[9], kPi);
        for (int i = 0; i < kOrder; ++i) ASSERT_LT(index[static_cast<std::size_t>(i)], 1 << kLsfBits[i]);
        // The decoder rebuilds exactly what the encoder keeps.
        const Lsf decoded = DecodeLsf(index);
        for (int i = 0; i < kOrder; ++i)
            ASSERT_EQ(decoded[static_cast<std::size_t>(i)], q[static_cast<std::size_t>(i)]);
    }
}

TEST(LsfQuantiser, FindsTheIndicesOfEveryIncreasingDecodedSet) {
    std::mt19937 rng(11);
    int checked = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        Indices index;
        for (int i = 0; i < kOrder; ++i)
            index[static_cast<std::size_t>(i)] = static_cast<uint16_t>(rng() % (1u << kLsfBits[i]));
        const Lsf lsf = DecodeLsf(index);
        bool strictly = true;
        for (int i = 0; i + 1 < kOrder; ++i)
            strictly = strictly && lsf[static_cast<std::size_t>(i)] < lsf[static_cast<std::size_t>(i + 1)];
        if (!strictly) continue;
        Indices found;
        QuantiseLsf(lsf, found);
        ASSERT_EQ(found, index) << "trial " << trial;
        ++checked;
    }
    EXPECT_GT(checked, 2000);
}

EvenLsfTables QuarterTables() {
    // Entries on multiples of 1/8 so that distances compare exactly; neighbouring tables overlap.
    EvenLsfTables t{};
    for (int k = 0; k < kEvenLsfTables; ++k) {
        for (int j = 0; j < kEvenLsfSize[k]; ++j)
            t.value[k][j] = 0.25f + 0.25f * static_cast<float>(k) + 0.125f * static_cast<float>(j);
    }
    return t;
}

TEST(LsfQuantiser, TiesTakeTheLowerEntry) {
    const EvenLsfTables t = QuarterTables();
    Lsf lsf = InitialLsf();
    lsf[0] = 0.25f + 0.0625f; // halfway between entries 0 and 1
    Indices index;
    QuantiseLsf(lsf, index, t);
    EXPECT_EQ(index[0], 0);
    lsf[0] = 0.25f + 0.0625f + 1e-5f;
    QuantiseLsf(lsf, index, t);
    EXPECT_EQ(index[0], 1);
}

TEST(LsfQuantiser, EvenLsfsStayAboveTheOddLsfBelowThem) {
    const EvenLsfTables t = QuarterTables();
    Lsf lsf = InitialLsf();
    lsf[0] = 0.25f; // entry 0 of LSF 0
    lsf[1] = 0.80f; // the unquantised odd LSF sets LSF 2's threshold
    lsf[2] = 0.80f; // nearest entry of LSF 2 would be 0.75 (index 2), but it is below the threshold
    lsf[3] = 1.3f;
    lsf[4] = 1.4f;
    Indices index;
    const Lsf q = QuantiseLsf(lsf, index, t);
    EXPECT_EQ(index[2], 3); // 0.875, the nearest strictly above 0.80
    EXPECT_FLOAT_EQ(q[2], 0.875f);
    // An entry equal to the threshold is not above it.
    lsf[1] = 0.875f;
    lsf[2] = 0.876f;
    QuantiseLsf(lsf, index, t);
    EXPECT_EQ(index[2], 4);
    // A threshold at or beyond the last entry takes the last entry.
    lsf[1] = 2.5f;
    lsf[2] = 2.6f;
    QuantiseLsf(lsf, index, t);
    EXPECT_EQ(index[2], kEvenLsfSize[1] - 1);
}

TEST(LsfQuantiser, QuantisedEvenLsfBelowCanSetTheThreshold) {
    const EvenLsfTables t = QuarterTables();
    Lsf lsf = InitialLsf();
    lsf[2] = 0.76f; // LSF 2 quantises to 0.75
    lsf[3] = 0.70f; // the odd LSF below LSF 4 is lower than that
    lsf[4] = 0.74f; // nearest in its table is 0.75, but the threshold is the quantised 0.75: 0.875
    lsf[1] = 0.5f;
    lsf[0] = 0.25f;
    Indices index;
    const Lsf q = QuantiseLsf(lsf, index, t);
    EXPECT_FLOAT_EQ(q[2], 0.75f);
    EXPECT_FLOAT_EQ(q[4], 0.875f);
}

TEST(LsfInterpolation, SubframesMoveFromThePreviousSetToTheCurrentOne) {
    const Lsf previous = InitialLsf();
    Lsf current = previous;
    for (auto &v : current) v *= 0.9f;
    float a[kSubframes][kOrder];
    SubframePredictors(previous, current, a);
    float same[kSubframes][kOrder];
    SubframePredictors(current, current, same);
    for (int i = 0; i < kOrder; ++i) EXPECT_FLOAT_EQ(a[2][i], same[2][i]); // the last subframe has the current set
    // The first lies nearer the previous set, the second nearer the current one.
    float old[kSubframes][kOrder];
    SubframePredictors(previous, previous, old);
    double d0 = 0, d1 = 0;
    for (int i = 0; i < kOrder; ++i) {
        d0 += std::abs(a[0][i] - old[0][i]);
        d1 += std::abs(a[1][i] - old[0][i]);
    }
    EXPECT_LT(d0, d1);
    EXPECT_GT(d0, 0.0);
}

} // namespace
} // namespace vntr::vt48
