// The M-best multi-stage vector quantiser search and the LSP weights.
#include <vntr/dsp/lsp.hpp>
#include <vntr/dsp/msvq.hpp>

#include "simd_kinds.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::dsp {
namespace {

float WeightedError(const float *x, const float *w, const float *q, int dim) {
    float e = 0.0f;
    for (int k = 0; k < dim; ++k) e += w[k] * (x[k] - q[k]) * (x[k] - q[k]);
    return e;
}

struct Books {
    int dim;
    std::vector<std::vector<float>> data;
    std::vector<MsvqStage> stages;
    Books(int d, const std::vector<int> &sizes, unsigned seed, float scale) : dim(d) {
        std::mt19937 rng(seed);
        std::normal_distribution<float> g(0.0f, 1.0f);
        for (std::size_t s = 0; s < sizes.size(); ++s) {
            std::vector<float> v(static_cast<std::size_t>(sizes[s] * d));
            for (float &x : v) x = g(rng) * scale / static_cast<float>(1 + s);
            data.push_back(std::move(v));
        }
        for (std::size_t s = 0; s < sizes.size(); ++s) stages.push_back({data[s].data(), sizes[s]});
    }
};

// Exhaustive search over every combination (small books only).
float BestPossible(const Books &b, const float *x, const float *w, const float *base) {
    const int n = static_cast<int>(b.stages.size());
    std::vector<int> idx(static_cast<std::size_t>(n), 0);
    float best = 1e30f;
    for (;;) {
        float q[kMsvqMaxDim];
        MsvqSum(base, b.dim, b.stages.data(), n, idx.data(), q);
        best = std::min(best, WeightedError(x, w, q, b.dim));
        int s = 0;
        while (s < n && ++idx[static_cast<std::size_t>(s)] == b.stages[static_cast<std::size_t>(s)].size) {
            idx[static_cast<std::size_t>(s)] = 0;
            ++s;
        }
        if (s == n) break;
    }
    return best;
}

// The finalists are the survivors of the last stage, best first: the first is
// the search's choice; each error is that of its own sum (with a base, the
// difference search's); with every path kept on a 4 x 4 book they are the 16
// best sums of all.
TEST(MsvqFinalists, AreTheSurvivorsBestFirstWithTheSearchsChoiceFirst) {
    const Books b(4, {4, 4}, 11, 1.0f);
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (int t = 0; t < 100; ++t) {
        float x[4], w[4], base[4];
        for (int k = 0; k < 4; ++k) {
            x[k] = g(rng);
            w[k] = 0.5f + std::fabs(g(rng));
            base[k] = 0.3f * g(rng);
        }
        const float *bases[2] = {nullptr, base};
        for (const float *bs : bases) {
            for (int keep : {1, 5, 16}) {
                MsvqChoice finalists[kMsvqMaxKeep];
                const int n = MsvqFinalists(x, w, bs, 4, b.stages.data(), 2, keep, finalists);
                ASSERT_EQ(n, keep);
                const MsvqChoice best = MsvqSearch(x, w, bs, 4, b.stages.data(), 2, keep, nullptr);
                EXPECT_EQ(finalists[0].indices[0], best.indices[0]);
                EXPECT_EQ(finalists[0].indices[1], best.indices[1]);
                EXPECT_EQ(finalists[0].error, best.error);
                for (int r = 0; r < n; ++r) {
                    float q[4];
                    MsvqSum(bs, 4, b.stages.data(), 2, finalists[r].indices, q);
                    EXPECT_NEAR(finalists[r].error, WeightedError(x, w, q, 4), 1e-5f);
                    if (r > 0) {
                        EXPECT_LE(finalists[r - 1].error, finalists[r].error);
                    }
                }
                if (keep == 16) {
                    // Every pair once: the sorted errors of all 16 sums.
                    std::vector<float> all;
                    for (int i = 0; i < 4; ++i) {
                        for (int j = 0; j < 4; ++j) {
                            const int idx[2] = {i, j};
                            float q[4];
                            MsvqSum(bs, 4, b.stages.data(), 2, idx, q);
                            all.push_back(WeightedError(x, w, q, 4));
                        }
                    }
                    std::sort(all.begin(), all.end());
                    for (int r = 0; r < n; ++r)
                        EXPECT_NEAR(finalists[r].error, all[static_cast<std::size_t>(r)], 1e-5f);
                }
            }
        }
    }
}

TEST(MsvqSearch, KeepingEveryPathFindsTheExhaustiveOptimumAndOneKeptPathIsGreedy) {
    const Books b(4, {4, 4, 4}, 7, 1.0f);
    std::mt19937 rng(3);
    std::normal_distribution<float> g(0.0f, 1.0f);
    int greedyWorse = 0;
    for (int t = 0; t < 200; ++t) {
        float x[4], w[4];
        for (int k = 0; k < 4; ++k) {
            x[k] = g(rng);
            w[k] = 0.5f + std::fabs(g(rng));
        }
        float q[4];
        const MsvqChoice full = MsvqSearch(x, w, nullptr, 4, b.stages.data(), 3, 16, q);
        const float best = BestPossible(b, x, w, nullptr);
        EXPECT_NEAR(full.error, best, 1e-5f * (1.0f + best));
        EXPECT_NEAR(full.error, WeightedError(x, w, q, 4), 1e-5f);

        // keep = 1: each stage picks its nearest vector to what is left.
        const MsvqChoice greedy = MsvqSearch(x, w, nullptr, 4, b.stages.data(), 3, 1, nullptr);
        float sum[4] = {};
        for (int s = 0; s < 3; ++s) {
            int bestI = 0;
            float bestE = 1e30f;
            for (int i = 0; i < 4; ++i) {
                float trial[4];
                for (int k = 0; k < 4; ++k)
                    trial[k] = sum[k] + b.data[static_cast<std::size_t>(s)][static_cast<std::size_t>(i * 4 + k)];
                const float e = WeightedError(x, w, trial, 4);
                if (e < bestE) {
                    bestE = e;
                    bestI = i;
                }
            }
            EXPECT_EQ(greedy.indices[s], bestI);
            for (int k = 0; k < 4; ++k)
                sum[k] += b.data[static_cast<std::size_t>(s)][static_cast<std::size_t>(bestI * 4 + k)];
        }
        EXPECT_GE(greedy.error, full.error);
        greedyWorse += greedy.error > full.error;
    }
    EXPECT_GT(greedyWorse, 0); // the books are such that the tree search matters
}

// The search written plainly: every extension of every kept candidate, its
// error summed component by component, ranked by a stable sort (so equal
// errors keep the order they were met in).
struct Path {
    float error;
    std::vector<int> indices;
    std::vector<float> sum;
};

std::vector<Path> PlainSearch(const Books &b, const float *x, const float *w, int keep) {
    std::vector<Path> kept{{0.0f, {}, std::vector<float>(static_cast<std::size_t>(b.dim), 0.0f)}};
    for (const MsvqStage &stage : b.stages) {
        std::vector<Path> all;
        for (const Path &p : kept) {
            for (int i = 0; i < stage.size; ++i) {
                Path n{0.0f, p.indices, p.sum};
                float e = 0.0f;
                for (int k = 0; k < b.dim; ++k) {
                    const float residual = x[k] - p.sum[static_cast<std::size_t>(k)];
                    const float d = residual - stage.vectors[i * b.dim + k];
                    e += w[k] * d * d;
                    n.sum[static_cast<std::size_t>(k)] += stage.vectors[i * b.dim + k];
                }
                n.error = e;
                n.indices.push_back(i);
                all.push_back(std::move(n));
            }
        }
        std::stable_sort(all.begin(), all.end(), [](const Path &a, const Path &c) { return a.error < c.error; });
        if (all.size() > static_cast<std::size_t>(keep)) all.resize(static_cast<std::size_t>(keep));
        kept = std::move(all);
    }
    return kept;
}

TEST(MsvqSearch, EveryStageSizeGivesExactlyThePlainSearchsChoice) {
    // Sizes around the blocks the search scores together and beyond the
    // largest stage it lays out by columns; stages with repeated vectors
    // make ties that must go to the candidate met first.
    const std::vector<std::vector<int>> layouts = {{5, 3},    {16, 17, 15}, {33, 64, 1},
                                                   {100, 31}, {257, 9},     {300, 47, 20}};
    std::mt19937 rng(17);
    std::normal_distribution<float> g(0.0f, 1.0f);
    int layoutSeed = 0;
    for (const auto &sizes : layouts) {
        for (int dim : {3, 10, 16}) {
            Books b(dim, sizes, static_cast<unsigned>(100 + layoutSeed++), 0.8f);
            // Duplicate a few vectors of every stage.
            for (std::size_t s = 0; s < b.data.size(); ++s) {
                const int size = sizes[s];
                for (int i = 2; i < size; i += 7) {
                    std::copy_n(b.data[s].begin() + (i - 2) * dim, dim, b.data[s].begin() + i * dim);
                }
            }
            for (int keep : {1, 3, 8, 16}) {
                for (int t = 0; t < 6; ++t) {
                    float x[kMsvqMaxDim], w[kMsvqMaxDim];
                    for (int k = 0; k < dim; ++k) {
                        x[k] = g(rng);
                        w[k] = t == 0 && k % 3 == 1 ? 0.0f : 0.2f + std::fabs(g(rng));
                    }
                    const Path best = PlainSearch(b, x, w, keep).front();
                    // Every kind of kernel: one, four and eight wide.
                    for (Simd simd : test::SimdKinds()) {
                        float q[kMsvqMaxDim];
                        const MsvqChoice c = MsvqSearchOn(simd, x, w, nullptr, dim, b.stages.data(),
                                                          static_cast<int>(sizes.size()), keep, q);
                        for (std::size_t s = 0; s < sizes.size(); ++s) {
                            ASSERT_EQ(c.indices[s], best.indices[s]) << "sizes " << sizes[0] << " dim " << dim
                                                                     << " keep " << keep << " " << test::SimdName(simd);
                        }
                        ASSERT_EQ(c.error, best.error);
                        for (int k = 0; k < dim; ++k) ASSERT_EQ(q[k], best.sum[static_cast<std::size_t>(k)]);
                    }
                }
            }
        }
    }
}

// A stage that brings its own column layout is searched exactly as one that
// does not (sizes on and off the blocks the search scores together).
template <int Dim, int Size, int Stages>
void ExpectOwnColumnsChangeNothing(unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, 1.0f);
    static float rows[Stages][Size * Dim];
    for (int s = 0; s < Stages; ++s) {
        for (float &x : rows[s]) x = g(rng) / static_cast<float>(1 + s);
    }
    static MsvqColumnLayout<Dim, Size, Stages> layout;
    layout = MsvqColumns<Dim, Size, Stages>(rows);
    MsvqStage plain[Stages], laid[Stages];
    for (int s = 0; s < Stages; ++s) {
        plain[s] = {rows[s], Size};
        laid[s] = {rows[s], Size, layout.columns[s]};
        ASSERT_EQ(layout.columns[s][(Dim - 1) * layout.kStride + Size - 1], rows[s][Size * Dim - 1]);
    }
    for (int t = 0; t < 40; ++t) {
        float x[Dim], w[Dim];
        for (int k = 0; k < Dim; ++k) {
            x[k] = g(rng);
            w[k] = 0.1f + std::fabs(g(rng));
        }
        for (int keep : {1, 8, 16}) {
            float qa[Dim], qb[Dim];
            const MsvqChoice a = MsvqSearch(x, w, nullptr, Dim, plain, Stages, keep, qa);
            const MsvqChoice b = MsvqSearch(x, w, nullptr, Dim, laid, Stages, keep, qb);
            for (int s = 0; s < Stages; ++s) ASSERT_EQ(a.indices[s], b.indices[s]) << "trial " << t;
            ASSERT_EQ(a.error, b.error);
            for (int k = 0; k < Dim; ++k) ASSERT_EQ(qa[k], qb[k]);
        }
    }
}

TEST(MsvqSearch, AStagesOwnColumnLayoutGivesTheSameChoice) {
    ExpectOwnColumnsChangeNothing<10, 64, 4>(5);
    ExpectOwnColumnsChangeNothing<3, 17, 2>(6);
    ExpectOwnColumnsChangeNothing<16, 40, 3>(7);
    EXPECT_EQ(MsvqColumnStride(17), 32);
    EXPECT_EQ(MsvqColumnStride(64), 64);
    EXPECT_EQ(MsvqColumnStride(1), 16);
}

TEST(MsvqSearch, EveryKernelMatchesThePlainOneToTheBitOverWideRanges) {
    // Errors near overflow, tiny ones and exact ties between vectors: the
    // four- and eight-wide sums round exactly as the plain ones.
    std::mt19937 rng(29);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (float scale : {1e-18f, 1e-3f, 1.0f, 1e6f, 1e17f}) {
        Books b(10, {64, 64, 64, 64}, 31, scale);
        std::copy_n(b.data[1].begin(), 10, b.data[1].begin() + 50);
        for (int t = 0; t < 50; ++t) {
            float x[10], w[10];
            for (int k = 0; k < 10; ++k) {
                x[k] = g(rng) * scale;
                w[k] = 0.05f + std::fabs(g(rng));
            }
            for (int keep : {1, 8, 16}) {
                float qa[10];
                const MsvqChoice a = MsvqSearchOn(Simd::Plain, x, w, nullptr, 10, b.stages.data(), 4, keep, qa);
                for (Simd simd : test::SimdKinds()) {
                    float qb[10];
                    const MsvqChoice c = MsvqSearchOn(simd, x, w, nullptr, 10, b.stages.data(), 4, keep, qb);
                    const char *kind = test::SimdName(simd);
                    for (int s = 0; s < 4; ++s) ASSERT_EQ(a.indices[s], c.indices[s]) << scale << " " << t << kind;
                    ASSERT_EQ(std::memcmp(&a.error, &c.error, sizeof a.error), 0) << scale << " " << t << kind;
                    ASSERT_EQ(std::memcmp(qa, qb, sizeof qa), 0) << scale << " " << t << kind;
                }
            }
        }
    }
}

TEST(MsvqSearch, MoreKeptCandidatesNeverDoWorseOnAverage) {
    const Books b(10, {64, 64, 64, 64}, 11, 0.5f);
    std::mt19937 rng(5);
    std::normal_distribution<float> g(0.0f, 0.7f);
    double total[3] = {};
    const int keeps[3] = {1, 4, 8};
    for (int t = 0; t < 300; ++t) {
        float x[10], w[10];
        for (int k = 0; k < 10; ++k) {
            x[k] = g(rng);
            w[k] = 1.0f;
        }
        for (int m = 0; m < 3; ++m)
            total[m] += MsvqSearch(x, w, nullptr, 10, b.stages.data(), 4, keeps[m], nullptr).error;
    }
    EXPECT_LT(total[1], total[0]);
    EXPECT_LT(total[2], total[1]);
}

TEST(MsvqSearch, EqualErrorsKeepTheFirstMetAndTheBaseIsAdded) {
    // Two identical vectors in stage 1: the lower index wins.
    const float stage1[] = {1.0f, 1.0f, 5.0f, 5.0f, 1.0f, 1.0f};
    const float stage2[] = {0.0f, 0.0f, 0.5f, 0.5f};
    const MsvqStage stages[] = {{stage1, 3}, {stage2, 2}};
    const float w[] = {1.0f, 1.0f};
    const float x[] = {1.0f, 1.0f};
    const MsvqChoice c = MsvqSearch(x, w, nullptr, 2, stages, 2, 4, nullptr);
    EXPECT_EQ(c.indices[0], 0);
    EXPECT_EQ(c.indices[1], 0);
    EXPECT_EQ(c.error, 0.0f);

    // Difference coding: the base shifts every candidate.
    const float base[] = {-4.0f, -4.0f};
    float q[2];
    const MsvqChoice d = MsvqSearch(x, w, base, 2, stages, 2, 4, q);
    EXPECT_EQ(d.indices[0], 1); // -4 + 5 = 1
    EXPECT_FLOAT_EQ(q[0], 1.0f);
    int idx[2] = {d.indices[0], d.indices[1]};
    float s[2];
    MsvqSum(base, 2, stages, 2, idx, s);
    EXPECT_FLOAT_EQ(s[0], q[0]);
    EXPECT_FLOAT_EQ(s[1], q[1]);
}

TEST(MsvqSearch, ZeroWeightsIgnoreThatComponent) {
    const float stage1[] = {0.0f, 100.0f, 1.0f, 0.0f};
    const MsvqStage stages[] = {{stage1, 2}};
    const float x[] = {1.0f, 0.0f};
    const float w[] = {1.0f, 0.0f};
    EXPECT_EQ(MsvqSearch(x, w, nullptr, 2, stages, 1, 1, nullptr).indices[0], 1);
    const float w2[] = {1.0f, 1.0f};
    EXPECT_EQ(MsvqSearch(x, w2, nullptr, 2, stages, 1, 1, nullptr).indices[0], 1);
    const float x3[] = {0.0f, 90.0f};
    EXPECT_EQ(MsvqSearch(x3, w2, nullptr, 2, stages, 1, 2, nullptr).indices[0], 0);
}

TEST(LspWeights, EvenlySpacedSetIsFlatBelowTheTopTwoAndPeaksWeighMore) {
    float lsp[10];
    for (int i = 0; i < 10; ++i) lsp[i] = static_cast<float>(std::numbers::pi * (i + 1) / 11.0);
    float w[10];
    LspWeights(lsp, 10, 0.3, w);
    for (int i = 1; i < 8; ++i) EXPECT_NEAR(w[i] / w[0], 1.0f, 0.05f) << i;
    EXPECT_NEAR(w[8] / w[0], 0.64f, 0.04f);
    EXPECT_NEAR(w[9] / w[0], 0.16f, 0.01f);

    // A close pair (a formant) makes the envelope peak there: both LSPs weigh more.
    float peaked[10];
    std::copy(lsp, lsp + 10, peaked);
    peaked[3] = lsp[3] + 0.45f * (lsp[4] - lsp[3]);
    peaked[4] = lsp[4] - 0.45f * (lsp[4] - lsp[3]);
    float wp[10];
    LspWeights(peaked, 10, 0.3, wp);
    EXPECT_GT(wp[3], 1.3f * w[3]);
    EXPECT_GT(wp[4], 1.3f * w[4]);

    // The exponent scales the weights in the log domain.
    float w6[10];
    LspWeights(peaked, 10, 0.6, w6);
    EXPECT_NEAR(std::log(w6[3] / 1.0f), 2.0 * std::log(wp[3] / 1.0f), 1e-4);

    // Coinciding frequencies of the two polynomials stay finite.
    float same[10];
    std::copy(lsp, lsp + 10, same);
    same[5] = same[4];
    LspWeights(same, 10, 0.6, w6);
    for (float v : w6) EXPECT_TRUE(std::isfinite(v));
}

} // namespace
} // namespace vntr::dsp
