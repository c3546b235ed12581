// The training of weighted and multi-stage vector quantisers.
#include "vq_training.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace vntr::train {
namespace {

// Points scattered tightly around a few centres.
WeightedSet Clusters(const std::vector<std::vector<float>> &centres, int perCentre, float spread, unsigned seed) {
    const int dim = static_cast<int>(centres[0].size());
    WeightedSet set(dim);
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, spread);
    std::vector<float> x(static_cast<std::size_t>(dim)), w(static_cast<std::size_t>(dim), 1.0f);
    for (int i = 0; i < perCentre; ++i) {
        for (const auto &c : centres) {
            for (int k = 0; k < dim; ++k) x[static_cast<std::size_t>(k)] = c[static_cast<std::size_t>(k)] + g(rng);
            set.Add(x.data(), w.data());
        }
    }
    return set;
}

TEST(GrowCodebook, FindsSeparatedClustersAndKeepsFixedEntries) {
    const std::vector<std::vector<float>> centres = {{0, 0}, {10, 0}, {0, 10}, {10, 10}, {5, 20}, {20, 5}, {-8, 3}};
    const WeightedSet set = Clusters(centres, 200, 0.1f, 1);
    std::mt19937 rng(2);
    const FixedEntry fixed{0, 0, {100.0f, 100.0f}};
    const Codebook book = GrowCodebook(set, 8, {fixed}, 15, rng);
    EXPECT_EQ(book.At(0)[0], 100.0f); // fixed, though no point is near it
    EXPECT_EQ(book.At(0)[1], 100.0f);
    for (const auto &c : centres) {
        float e;
        const int i = NearestCode(book, c.data(), std::vector<float>{1, 1}.data(), &e);
        EXPECT_NE(i, 0);
        EXPECT_LT(e, 0.05f) << c[0] << "," << c[1];
    }
}

TEST(WeightedKMeans, CentroidsFollowTheWeights) {
    // Two points in one cell; the heavier one pulls the centroid, per component.
    WeightedSet set(2);
    const float a[] = {0.0f, 0.0f}, wa[] = {3.0f, 1.0f};
    const float b[] = {1.0f, 1.0f}, wb[] = {1.0f, 3.0f};
    set.Add(a, wa);
    set.Add(b, wb);
    Codebook book(2, 1);
    std::mt19937 rng(1);
    WeightedKMeans(set, book, 1, rng);
    EXPECT_FLOAT_EQ(book.At(0)[0], 0.25f);
    EXPECT_FLOAT_EQ(book.At(0)[1], 0.75f);
}

// A signal made of independent stage contributions: the trained quantiser
// should come close to recovering it, and the joint refinement never loses.
TEST(MsvqTraining, StageByStageThenJointRefinementLowersTheError) {
    const int dim = 4;
    std::mt19937 rng(9);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<std::vector<float>> parts[2];
    for (int s = 0; s < 2; ++s) {
        for (int i = 0; i < 8; ++i) {
            std::vector<float> v(dim);
            for (float &x : v) x = g(rng) * (s == 0 ? 4.0f : 1.0f);
            parts[s].push_back(v);
        }
    }
    MsvqTrainingSet set(dim);
    std::uniform_int_distribution<int> pick(0, 7);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    const float w[dim] = {1, 1, 1, 1};
    for (int n = 0; n < 4000; ++n) {
        float x[dim];
        const auto &p0 = parts[0][static_cast<std::size_t>(pick(rng))];
        const auto &p1 = parts[1][static_cast<std::size_t>(pick(rng))];
        for (int k = 0; k < dim; ++k)
            x[k] = p0[static_cast<std::size_t>(k)] + p1[static_cast<std::size_t>(k)] + noise(rng);
        set.Add(x, w, nullptr, 0, 2);
    }
    MsvqTrainingOptions opt;
    opt.keep = 4;
    opt.verbose = false;
    Msvq q = TrainMsvqStageByStage(set, {8, 8}, {}, opt);
    const double start = CodeMsvqSet(set, q, opt.keep, nullptr);
    const double refined = RefineMsvq(set, q, opt, 8);
    EXPECT_LE(refined, start);
    EXPECT_LT(refined, 0.5); // per-vector error; the signal's own variance is about 68
    EXPECT_NEAR(CodeMsvqSet(set, q, opt.keep, nullptr), refined, 1e-9);
}

TEST(MsvqTraining, DifferenceCodedVectorsTrainOnlyTheLaterStages) {
    // Absolute vectors use stages 1-2; difference-coded vectors only stage 2,
    // from a base.  Stage 2 must serve both.
    const int dim = 2;
    MsvqTrainingSet set(dim);
    const float w[dim] = {1, 1};
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> pick(0, 1);
    for (int n = 0; n < 2000; ++n) {
        const float coarse = pick(rng) ? 10.0f : -10.0f;
        const float fine = pick(rng) ? 0.5f : -0.5f;
        const float x[dim] = {coarse + fine, coarse - fine};
        set.Add(x, w, nullptr, 0, 2);
        const float base[dim] = {coarse, coarse};
        set.Add(x, w, base, 1, 1);
    }
    MsvqTrainingOptions opt;
    opt.keep = 2;
    opt.verbose = false;
    Msvq q = TrainMsvqStageByStage(set, {2, 2}, {}, opt);
    RefineMsvq(set, q, opt, 4);
    std::vector<MsvqCoding> codings;
    EXPECT_LT(CodeMsvqSet(set, q, opt.keep, &codings), 1e-6);
    // Stage 2 holds the two fine corrections.
    for (int i = 0; i < 2; ++i) EXPECT_NEAR(std::fabs(q.stages[1].At(i)[0]), 0.5f, 1e-4f);
}

TEST(LspSpectralDistortion, ZeroForEqualVectorsAndGrowsWithAShiftedFormant) {
    float a[10], b[10];
    for (int i = 0; i < 10; ++i) a[i] = b[i] = static_cast<float>(std::numbers::pi * (i + 1) / 11.0);
    EXPECT_NEAR(LspSpectralDistortion(a, b, 10), 0.0, 1e-9);
    b[2] -= 0.02f;
    const double small = LspSpectralDistortion(a, b, 10);
    b[2] -= 0.08f;
    const double large = LspSpectralDistortion(a, b, 10);
    EXPECT_GT(small, 0.0);
    EXPECT_GT(large, 3.0 * small);
    DistortionStats st;
    st.Add(1.0);
    st.Add(3.0);
    st.Add(5.0);
    EXPECT_DOUBLE_EQ(st.Mean(), 3.0);
    EXPECT_NEAR(st.PercentOver2(), 66.67, 0.01);
    EXPECT_NEAR(st.PercentOver4(), 33.33, 0.01);
}

} // namespace
} // namespace vntr::train
