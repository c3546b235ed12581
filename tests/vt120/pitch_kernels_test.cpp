// The pitch search's shared views and its AVX2 scoring against the plain
// per-lag filtering and scoring, bit for bit.
#include "pitch_scores.hpp"
#include "pitch_search.hpp"
#include "pitch_views.hpp"
#include "tables.hpp"

#include "simd_kinds.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

namespace vntr::vt120 {
namespace {

// The statistics of one lag as the search used to make them: its extended
// vector through dsp::FilterPredictorViews.
dsp::PredictorStatistics OnItsOwn(const float *history, const float *h, const float *target, int lag) {
    float u[kAdaptiveLength];
    dsp::BuildExtendedVector(history + kExcitationHistory, lag, kSubframeLength, u);
    float views[dsp::kPredictorTaps][dsp::kPredictorMaxLength];
    return dsp::FilterPredictorViews(u, h, target, kSubframeLength, views);
}

bool SameBits(const dsp::PredictorStatistics &a, const dsp::PredictorStatistics &b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<Simd> Kinds() {
    return test::SimdKinds();
}

TEST(PitchViews, EveryLagGetsTheStatisticsOfItsOwnFiltering) {
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 1.0f);
    // Ordinary levels, sub-normal products, dots that overflow, and a history
    // with runs of zeros of both signs (the shared views may differ from the
    // per-lag ones in the sign of a zero, which the sums must not show).
    const float scales[] = {1000.0f, 1e-25f, 1e19f, 1.0f};
    for (int s = 0; s < 4; ++s) {
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<float> history(kExcitationHistory);
            for (std::size_t i = 0; i < history.size(); ++i) {
                history[i] = scales[s] * g(rng);
                if (s == 3 && (i / 7) % 2 == 0) history[i] = (i % 3 == 0) ? -0.0f : 0.0f;
            }
            float h[kSubframeLength], target[kSubframeLength];
            for (int n = 0; n < kSubframeLength; ++n) {
                h[n] = n == 0 ? 1.0f : std::pow(0.85f, static_cast<float>(n)) * g(rng);
                if (trial % 3 == 1 && n % 5 == 2) h[n] = trial % 2 ? -0.0f : 0.0f;
                target[n] = trial == 5 ? 0.0f : scales[s] * g(rng);
            }
            for (int first = kMinLag; first <= kMaxLag - 2; ++first) {
                for (Simd simd : Kinds()) {
                    dsp::PredictorStatistics shared[kPitchCandidates];
                    CandidateStatistics(history.data(), h, target, first, shared, simd);
                    for (int c = 0; c < kPitchCandidates; ++c) {
                        EXPECT_TRUE(SameBits(shared[c], OnItsOwn(history.data(), h, target, first + c)))
                            << "scale " << scales[s] << " trial " << trial << " lag " << first + c << " simd "
                            << static_cast<int>(simd);
                    }
                }
            }
        }
    }
}

// The first pair of the highest score in the search's order, from the plain
// per-entry score.
PredictorPair PlainBest(const dsp::PredictorStatistics *stats, const dsp::PredictorCodebook &codebook) {
    PredictorPair pair{0, 0};
    float best = -3e38f;
    for (int e = 0; e < dsp::kPredictorEntries; ++e) {
        for (int c = 0; c < kPitchCandidates; ++c) {
            const float score = dsp::PredictorScore(stats[c], codebook, e);
            if (score > best) {
                best = score;
                pair = {e, c};
            }
        }
    }
    return pair;
}

void ExpectPair(const dsp::PredictorStatistics *stats, const dsp::PredictorCodebook &codebook, const char *what) {
    const PredictorPair plain = PlainBest(stats, codebook);
    for (Simd simd : Kinds()) {
        const PredictorPair got = BestPredictorPair(stats, codebook, simd);
        EXPECT_EQ(got.entry, plain.entry) << what << " simd " << static_cast<int>(simd);
        EXPECT_EQ(got.candidate, plain.candidate) << what << " simd " << static_cast<int>(simd);
    }
}

dsp::PredictorStatistics RandomStatistics(std::mt19937 &rng, float scale) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    dsp::PredictorStatistics s{};
    for (float &v : s.c) v = scale * g(rng);
    for (float &v : s.e) v = scale * std::fabs(g(rng));
    for (float &v : s.x) v = 0.3f * scale * g(rng);
    return s;
}

TEST(PitchScores, EveryKindPicksThePlainSearchsPair) {
    std::mt19937 rng(9);
    for (float scale : {1.0f, 1e6f, 1e-30f, 1e36f}) {
        for (int trial = 0; trial < 50; ++trial) {
            dsp::PredictorStatistics stats[kPitchCandidates];
            for (auto &s : stats) s = RandomStatistics(rng, scale);
            ExpectPair(stats, kPredictorCodebook, "random");
        }
    }
}

TEST(PitchScores, TiesGoToTheFirstPairInTheSearchsOrder) {
    std::mt19937 rng(10);
    // All statistics zero: every score is 0, entry 0 at the first lag.
    dsp::PredictorStatistics zero[kPitchCandidates] = {};
    ExpectPair(zero, kPredictorCodebook, "zero");
    EXPECT_EQ(BestPredictorPair(zero, kPredictorCodebook, dsp::DetectSimd()).entry, 0);

    // The same statistics at all three lags: the first lag of the best entry.
    dsp::PredictorStatistics same[kPitchCandidates];
    same[0] = same[1] = same[2] = RandomStatistics(rng, 100.0f);
    ExpectPair(same, kPredictorCodebook, "same");
    EXPECT_EQ(BestPredictorPair(same, kPredictorCodebook, dsp::DetectSimd()).candidate, 0);

    // A codebook whose best entry for these statistics recurs later (in
    // another lane and another block): the earlier entry wins.
    auto book = std::make_unique<dsp::PredictorCodebook>(kPredictorCodebook);
    dsp::PredictorStatistics stats[kPitchCandidates];
    for (auto &s : stats) s = RandomStatistics(rng, 50.0f);
    const PredictorPair best = PlainBest(stats, *book);
    for (int copy : {best.entry + 1, best.entry + 8, 127}) {
        if (copy > 127 || copy == best.entry) continue;
        for (int k = 0; k < 20; ++k) book->search[k][copy] = book->search[k][best.entry];
    }
    ExpectPair(stats, *book, "repeated entry");
    // The repeat at a lower lag in a later entry does not win either.
    stats[0] = stats[best.candidate];
    ExpectPair(stats, *book, "repeated entry, lower lag");
}

TEST(PitchScores, ScoresThatNeverBeatTheStartKeepEntryZero) {
    std::mt19937 rng(11);
    // Infinite and NaN statistics: scores of -inf, +inf and NaN.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    dsp::PredictorStatistics stats[kPitchCandidates];
    for (auto &s : stats) s = RandomStatistics(rng, 1.0f);
    for (auto &s : stats) s.e[2] = inf; // -inf for every entry with b_2 != 0
    ExpectPair(stats, kPredictorCodebook, "energies infinite");
    for (auto &s : stats) s.c[0] = nan;
    ExpectPair(stats, kPredictorCodebook, "correlation NaN");
    stats[1] = RandomStatistics(rng, 1.0f);
    stats[1].c[3] = inf;
    ExpectPair(stats, kPredictorCodebook, "one lag infinite");
    // Every score below -3e38 (entry 0 included, through a codebook whose
    // rows hold no zeros): nothing replaces the start.
    auto book = std::make_unique<dsp::PredictorCodebook>(kPredictorCodebook);
    for (auto &row : book->search) {
        for (float &v : row) v = -1.0f;
    }
    dsp::PredictorStatistics huge[kPitchCandidates];
    for (auto &s : huge) {
        for (float &v : s.c) v = 3e37f;
        for (float &v : s.e) v = 3e37f;
        for (float &v : s.x) v = 3e37f;
    }
    ExpectPair(huge, *book, "all below the start");
    const PredictorPair none = BestPredictorPair(huge, *book, dsp::DetectSimd());
    EXPECT_EQ(none.entry, 0);
    EXPECT_EQ(none.candidate, 0);
}

TEST(PitchSearch, EveryKindMakesTheSameChoice) {
    std::mt19937 rng(13);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (int trial = 0; trial < 60; ++trial) {
        std::vector<float> history(kExcitationHistory);
        for (float &x : history) x = 300.0f * g(rng);
        float h[kSubframeLength], target[kSubframeLength];
        for (int n = 0; n < kSubframeLength; ++n) {
            h[n] = std::pow(0.8f, static_cast<float>(n)) * (1.0f + 0.4f * g(rng));
            target[n] = 500.0f * g(rng);
        }
        const int centre = kMinLag + static_cast<int>(rng() % (kMaxLag - kMinLag + 1));
        const PitchChoice plain = SearchPitch(history.data(), h, target, centre, kPredictorCodebook, Simd::Plain);
        for (Simd simd : Kinds()) {
            const PitchChoice c = SearchPitch(history.data(), h, target, centre, kPredictorCodebook, simd);
            EXPECT_EQ(c.lag, plain.lag) << trial;
            EXPECT_EQ(c.entry, plain.entry) << trial;
            for (int k = 0; k < kPitchCandidates; ++k) {
                EXPECT_TRUE(
                    SameBits(c.statistics[k], OnItsOwn(history.data(), h, target, ClampPitchCentre(centre) - 1 + k)));
            }
        }
    }
}

} // namespace
} // namespace vntr::vt120
