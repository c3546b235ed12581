// The shared post-filter against a plain, one-candidate-at-a-time version of
// the same arithmetic: the fast one shares passes, widens samples once and
// works in SIMD lanes, and must still give every output bit for bit.
#include <vntr/dsp/filters.hpp>
#include <vntr/dsp/lpc.hpp>
#include <vntr/dsp/postfilter.hpp>
#include <vntr/dsp/vector.hpp>

#include "simd_kinds.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

namespace vntr::dsp {
namespace {

// ---- The plain version -----------------------------------------------------

double PlainDot(const float *x, const float *y, int length) {
    double acc[4] = {};
    int n = 0;
    for (; n + 4 <= length; n += 4) {
        for (int k = 0; k < 4; ++k) acc[k] += static_cast<double>(x[n + k]) * y[n + k];
    }
    double tail = 0.0;
    for (; n < length; ++n) tail += static_cast<double>(x[n]) * y[n];
    return ((acc[0] + acc[2]) + (acc[1] + acc[3])) + tail;
}

struct Scored {
    double k;
    double e;
};

bool PlainBetter(const Scored &a, const Scored &b) {
    return a.k * a.k * b.e > b.k * b.k * a.e;
}

Scored PlainScore(const float *r, const float *y, int length) {
    const double k = PlainDot(r, y, length);
    return {k > 0.0 ? k : 0.0, PlainDot(y, y, length)};
}

// How the plain pitch post-filter ended, so that the test can show it met every case.
enum class Path { QuietSubframe, NoPositiveLag, Gated, IntegerLag, FourTap, SixteenTap, Count };

Path PlainPitchPostFilter(const float *r, int lag, int length, const PostFilterConfig &config, float *out) {
    const double energy = PlainDot(r, r, length);
    std::memcpy(out, r, sizeof(float) * length);
    if (energy < 0.1) return Path::QuietSubframe;
    int t = lag - 1;
    double bestC = -1e300;
    for (int d = lag - 1; d <= lag + 1; ++d) {
        const double c = PlainDot(r, r - d, length);
        if (c > bestC) {
            bestC = c;
            t = d;
        }
    }
    const double delayedEnergy = PlainDot(r - t, r - t, length);
    if (bestC <= 0.0 || delayedEnergy < 0.1) return Path::NoPositiveLag;

    Scored best{bestC, delayedEnergy};
    int bestPhase = 0;
    int bestShift = 0;
    float y[kPostMaxSubframe + 1];
    float chosen[kPostMaxSubframe];
    for (int n = 0; n < length; ++n) chosen[n] = r[n - t];
    for (int phase = 1; phase <= 7; ++phase) {
        const float *c = config.delays.four[phase - 1];
        for (int n = 0; n <= length; ++n) {
            const float *x = r + n - t + 1;
            y[n] = c[0] * x[0] + c[1] * x[-1] + c[2] * x[-2] + c[3] * x[-3];
        }
        for (int shift = 0; shift <= 1; ++shift) {
            const Scored s = PlainScore(r, y + shift, length);
            if (PlainBetter(s, best)) {
                best = s;
                bestPhase = phase;
                bestShift = shift;
                std::memcpy(chosen, y + shift, sizeof(float) * length);
            }
        }
    }
    const bool passes = config.gate == PitchGateEdges::EnergyInclusive
                            ? best.k != 0.0 && !(best.e < 0.1) && best.k * best.k > 0.5 * energy * best.e
                            : best.k != 0.0 && best.e > 0.1 && best.k * best.k >= 0.5 * energy * best.e;
    if (!passes) return Path::Gated;

    Path path = bestPhase == 0 ? Path::IntegerLag : Path::FourTap;
    if (bestPhase != 0) {
        float fine[kPostMaxSubframe];
        const float *h = config.delays.sixteen[bestPhase - 1];
        for (int n = 0; n < length; ++n) {
            const float *x = r + n - (t - bestShift + 1) + 8;
            float acc = 0.0f;
            for (int j = 0; j < 16; ++j) acc += h[j] * x[-j];
            fine[n] = acc;
        }
        const Scored s = PlainScore(r, fine, length);
        if (s.e != 0.0 && PlainBetter(s, best)) {
            best = s;
            std::memcpy(chosen, fine, sizeof(float) * length);
            path = Path::SixteenTap;
        }
    }
    float weightSelf;
    float weightDelayed;
    if (best.k > best.e) {
        weightSelf = 0.6666667f;
        weightDelayed = 1.0f - 0.6666667f;
    } else {
        const float g = static_cast<float>(best.k / best.e);
        weightSelf = 1.0f / (1.0f + 0.5f * g);
        weightDelayed = 0.5f * g / (1.0f + 0.5f * g);
    }
    for (int n = 0; n < length; ++n) out[n] = r[n] * weightSelf + chosen[n] * weightDelayed;
    return path;
}

struct PlainState {
    float residual[kPostResidualHistory] = {};
    float speech[kPostOrder] = {};
    float formant[kPostOrder] = {};
    float gain = 1.0f;
};

Path PlainPostFilterSubframe(PlainState &state, const float *speech, int lag, const float *lpc, int length,
                             const PostFilterConfig &config, float *out) {
    float s[kPostOrder + kPostMaxSubframe];
    std::memcpy(s, state.speech, sizeof state.speech);
    std::memcpy(s + kPostOrder, speech, sizeof(float) * length);
    float r[kPostResidualHistory + kPostMaxSubframe];
    std::memcpy(r, state.residual, sizeof state.residual);
    float y[kPostOrder + kPostMaxSubframe];
    std::memcpy(y, state.formant, sizeof state.formant);
    const float *sub = s + kPostOrder;
    float num[kPostOrder];
    float den[kPostOrder];
    BandwidthExpand(lpc, kPostOrder, 0.55f, num);
    BandwidthExpand(lpc, kPostOrder, 0.7f, den);
    float *residual = r + kPostResidualHistory;
    for (int n = 0; n < length; ++n) {
        float acc = sub[n];
        for (int i = 1; i <= kPostOrder; ++i) acc += num[i - 1] * sub[n - i];
        residual[n] = acc;
    }
    float pitched[kPostMaxSubframe];
    const Path path = PlainPitchPostFilter(residual, lag, length, config, pitched);

    const int responseLength = config.tiltResponseLength;
    float h[kPostMaxTiltResponse];
    PoleZeroImpulseResponse(num, den, kPostOrder, h, responseLength);
    float r0 = 0.0f;
    float r1 = 0.0f;
    float sumAbs = 0.0f;
    for (int n = 0; n < responseLength; ++n) {
        r0 += h[n] * h[n];
        sumAbs += std::fabs(h[n]);
        if (n + 1 < responseLength) r1 += h[n] * h[n + 1];
    }
    const float tilt = (r0 != 0.0f && std::fabs(r1) <= r0) ? -r1 / r0 : 0.0f;
    if (sumAbs > 1.0f) {
        for (int n = 0; n < length; ++n) pitched[n] /= sumAbs;
    }
    float *formant = y + kPostOrder;
    AllPoleFilter(pitched, den, kPostOrder, formant, length);
    const float mu = tilt <= 0.0f ? 0.9f * tilt : 0.2f * tilt;
    const float scale = 1.0f / (1.0f - std::fabs(mu));
    float previous = formant[-1];
    for (int n = 0; n < length; ++n) {
        out[n] = (formant[n] + mu * previous) * scale;
        previous = formant[n];
    }
    float sumS = 0.0f;
    float sumZ = 0.0f;
    for (int n = 0; n < length; ++n) {
        sumS += std::fabs(sub[n]);
        sumZ += std::fabs(out[n]);
    }
    float g = 0.0f;
    bool scaleSubframe = true;
    if (sumS > 0.0f && sumZ > 0.0f) {
        g = 0.0125f * sumS / sumZ;
    } else if (sumS > 0.0f) {
        state.gain = 0.0f;
        scaleSubframe = false;
    }
    if (scaleSubframe) {
        for (int n = 0; n < length; ++n) {
            state.gain = 0.9875f * state.gain + g;
            out[n] *= state.gain;
        }
    }
    std::memcpy(state.residual, r + length, sizeof state.residual);
    std::memcpy(state.formant, y + length, sizeof state.formant);
    std::memcpy(state.speech, s + length, sizeof state.speech);
    return path;
}

// ---- Test material -----------------------------------------------------------

// Fractional-delay rows of phases 1..7 (delay p/8), Hamming-windowed sinc.
struct DelayTables {
    float four[7][4];
    float sixteen[7][16];
    DelayTables() {
        for (int p = 1; p <= 7; ++p) {
            const double frac = p / 8.0;
            Design(frac, 4, four[p - 1]);
            Design(frac, 16, sixteen[p - 1]);
        }
    }
    static void Design(double frac, int taps, float *row) {
        const int half = taps / 2;
        for (int j = 0; j < taps; ++j) {
            const double x = (half - 1 - j) + frac; // tap j reads sample n - j + half - 1 back by frac
            const double sinc = std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double w = 0.54 + 0.46 * std::cos(std::numbers::pi * x / (half + 0.5));
            row[j] = static_cast<float>(sinc * w);
        }
    }
};

const DelayTables &Tables() {
    static const DelayTables tables;
    return tables;
}

PostFilterConfig Config(int responseLength, PitchGateEdges gate) {
    return {{Tables().four, Tables().sixteen}, responseLength, gate};
}

// A stable predictor from reflection coefficients below 0.95 in magnitude.
void RandomLpc(std::mt19937 &rng, float *a) {
    std::uniform_real_distribution<float> k(-0.95f, 0.95f);
    float current[kPostOrder] = {};
    for (int m = 0; m < kPostOrder; ++m) {
        const float km = k(rng);
        float next[kPostOrder];
        for (int i = 0; i < m; ++i) next[i] = current[i] + km * current[m - 1 - i];
        next[m] = km;
        std::memcpy(current, next, sizeof next);
    }
    std::memcpy(a, current, sizeof current);
}

// Voiced-like material: a pulse train of a fractional period, plus noise,
// at levels from nearly silent to loud.
std::vector<float> Material(std::mt19937 &rng, int samples, double period, float level, float noise) {
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<float> x(static_cast<std::size_t>(samples));
    for (int n = 0; n < samples; ++n) {
        const double phase = std::fmod(n, period) / period;
        const double pulse = std::exp(-40.0 * phase) + 0.3 * std::sin(2 * std::numbers::pi * phase);
        x[static_cast<std::size_t>(n)] = level * static_cast<float>(pulse) + noise * g(rng);
    }
    return x;
}

void ExpectSameBits(const float *a, const float *b, int length, const char *what, int trial) {
    for (int n = 0; n < length; ++n) {
        ASSERT_EQ(std::memcmp(&a[n], &b[n], sizeof(float)), 0)
            << what << " trial " << trial << " sample " << n << ": " << a[n] << " vs " << b[n];
    }
}

// ---- Tests -------------------------------------------------------------------

TEST(DotDouble, MatchesFourPartialSumsForEveryLengthAndAlignment) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-3000.0f, 3000.0f);
    std::vector<float> x(200), y(200);
    for (auto &v : x) v = u(rng);
    for (auto &v : y) v = u(rng);
    for (int offset = 0; offset < 4; ++offset) {
        for (int length = 0; length <= 81; ++length) {
            const double fast = DotDouble(x.data() + offset, y.data() + 3 - offset, length);
            const double plain = PlainDot(x.data() + offset, y.data() + 3 - offset, length);
            ASSERT_EQ(std::memcmp(&fast, &plain, sizeof fast), 0) << "offset " << offset << " length " << length;
        }
    }
    // An infinite term makes the sum infinite or not a number, as in the plain loop.
    x[5] = std::numeric_limits<float>::infinity();
    EXPECT_TRUE(std::isinf(DotDouble(x.data(), x.data(), 8)));
}

TEST(PitchPostFilter, GivesThePlainResultBitForBitOnEveryPath) {
    std::mt19937 rng(2024);
    int seen[static_cast<int>(Path::Count)] = {};
    const int lengths[] = {30, 31, 32, 33, 40, 60, 80};
    int trial = 0;
    for (const PitchGateEdges gate : {PitchGateEdges::EnergyInclusive, PitchGateEdges::RatioInclusive}) {
        const PostFilterConfig config = Config(20, gate);
        for (const int length : lengths) {
            for (int k = 0; k < 300; ++k, ++trial) {
                std::uniform_int_distribution<int> lagOf(18, kPostMaxLag);
                const int lag = lagOf(rng);
                std::uniform_real_distribution<double> drift(-1.6, 1.6);
                const double period = std::max(17.0, lag + drift(rng));
                const float levels[] = {0.01f, 0.3f, 30.0f, 3000.0f};
                const float level = levels[k % 4];
                const float noise = (k / 4) % 3 == 0 ? level : level * 0.05f;
                auto x = Material(rng, kPostResidualHistory + length, period, level, noise);
                if (k % 29 == 0) {
                    for (auto &v : x) v = -v; // anti-periodic: no positive correlation
                    for (std::size_t n = 0; n < x.size(); n += 2) x[n] = -x[n];
                }
                const float *r = x.data() + kPostResidualHistory;
                float fast[kPostMaxSubframe];
                float plain[kPostMaxSubframe];
                PitchPostFilter(r, lag, length, config, fast);
                const Path path = PlainPitchPostFilter(r, lag, length, config, plain);
                ++seen[static_cast<int>(path)];
                ExpectSameBits(fast, plain, length, "pitch post-filter", trial);
            }
        }
    }
    for (int p = 0; p < static_cast<int>(Path::Count); ++p) EXPECT_GT(seen[p], 0) << "path " << p << " never met";
}

// The 4-tap candidates of both kernels against the plain filtering and
// sums, bit for bit: every length up to the longest sub-frame (so every tail
// of the lanes), lags across the range, levels from sub-normal products to
// overflowing sums, and silence.
TEST(FractionalPitchCandidates, BothKernelsGiveThePlainSumsBitForBit) {
    std::mt19937 rng(31);
    const PostFilterConfig config = Config(20, PitchGateEdges::RatioInclusive);
    const float levels[] = {3000.0f, 0.01f, 1e-21f, 1e18f, 3e38f, 0.0f};
    for (int length = 1; length <= kPostMaxSubframe; ++length) {
        for (int k = 0; k < 6; ++k) {
            std::uniform_int_distribution<int> lagOf(17, kPostMaxLag + 1);
            const int t = lagOf(rng);
            const float level = levels[k];
            auto x = Material(rng, kPostResidualHistory + length + 1, t + 0.3, level, level * 0.2f);
            const float *r = x.data() + kPostResidualHistory;
            PitchCandidate plain[7][2];
            for (int phase = 1; phase <= 7; ++phase) {
                const float *c = config.delays.four[phase - 1];
                float y[kPostMaxSubframe + 1];
                for (int n = 0; n <= length; ++n) {
                    const float *at = r + n - t + 1;
                    y[n] = c[0] * at[0] + c[1] * at[-1] + c[2] * at[-2] + c[3] * at[-3];
                }
                for (int shift = 0; shift <= 1; ++shift) {
                    const Scored sc = PlainScore(r, y + shift, length);
                    plain[phase - 1][shift] = {sc.k, sc.e};
                }
            }
            for (const Simd simd : test::SimdKinds()) {
                PitchCandidate got[7][2];
                FractionalPitchCandidates(simd, r, t, length, config.delays, got);
                ASSERT_EQ(std::memcmp(got, plain, sizeof got), 0)
                    << "length " << length << " lag " << t << " level " << level << " " << test::SimdName(simd);
            }
        }
    }
}

// Both kernels of the pitch candidates (AVX2 where the processor has it),
// whatever ResetPostFilter chose for this one.
class PostFilterSubframeOn : public ::testing::TestWithParam<Simd> {};

TEST_P(PostFilterSubframeOn, GivesThePlainResultBitForBitAndCarriesTheSameState) {
    const Simd simd = GetParam();
    if (simd > DetectSimd())
        GTEST_SKIP() << "this processor or build does not run the " << test::SimdName(simd) << " kernels";
    std::mt19937 rng(77);
    int trial = 0;
    for (const int responseLength : {20, 30, kPostMaxTiltResponse}) {
        for (const int length : {30, 32, 33, 60, 80}) {
            const PostFilterConfig config =
                Config(responseLength, length % 2 ? PitchGateEdges::EnergyInclusive : PitchGateEdges::RatioInclusive);
            PostFilterState state;
            ResetPostFilter(state);
            state.simd = simd;
            PlainState plainState;
            std::uniform_int_distribution<int> lagOf(18, kPostMaxLag);
            int lag = lagOf(rng);
            for (int k = 0; k < 120; ++k, ++trial) {
                if (k % 10 == 0) lag = lagOf(rng);
                float lpc[kPostOrder];
                RandomLpc(rng, lpc);
                // Loud, quiet and silent stretches, so that the gain control
                // rises, decays and resets.
                const float levels[] = {2000.0f, 2000.0f, 0.2f, 0.0f, 3e-19f, 4e17f};
                const float level = levels[(k / 15) % 6];
                auto s = Material(rng, length, lag + 0.4, level, level * 0.1f);
                float fast[kPostMaxSubframe];
                float plain[kPostMaxSubframe];
                PostFilterSubframe(state, s.data(), lag, lpc, length, config, fast);
                PlainPostFilterSubframe(plainState, s.data(), lag, lpc, length, config, plain);
                ExpectSameBits(fast, plain, length, "post-filter", trial);
                ASSERT_EQ(std::memcmp(&state.gain, &plainState.gain, sizeof(float)), 0) << trial;
                ExpectSameBits(state.formant, plainState.formant, kPostOrder, "formant memory", trial);
            }
        }
    }
}

// Two shapes made side by side equal each made on its own, bit for bit, for
// every response length, sets of very different kinds in the two lanes
// (random, silent, resonant up to instability), and the post-filter fed
// either way gives the same output.
TEST(PostFilterShapePair, EachShapeIsPostFilterShapeOfBitForBit) {
    std::mt19937 rng(55);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (const int responseLength : {1, 2, 19, 20, 21, 30, kPostMaxTiltResponse}) {
        const PostFilterConfig config = Config(responseLength, PitchGateEdges::RatioInclusive);
        for (int trial = 0; trial < 60; ++trial) {
            float lpc[2][kPostOrder];
            for (auto &set : lpc) {
                switch (trial % 4) {
                case 0:
                    RandomLpc(rng, set);
                    break;
                case 1:
                    for (float &a : set) a = 0.0f;
                    break;
                case 2:
                    for (float &a : set) a = 3.0f * g(rng); // far outside the stable region
                    break;
                default:
                    for (int k = 0; k < kPostOrder; ++k) set[k] = k == 0 ? -1.9f : (k == 1 ? 0.99f : 0.0f);
                }
                if (trial % 8 == 5) std::swap(lpc[0][0], lpc[1][0]);
            }
            PostFilterShape pair[2], alone[2];
            PostFilterShapePair(lpc[0], lpc[1], config, pair[0], pair[1]);
            for (int k = 0; k < 2; ++k) {
                PostFilterShapeOf(lpc[k], config, alone[k]);
                ASSERT_EQ(std::memcmp(&pair[k], &alone[k], sizeof(PostFilterShape)), 0)
                    << "length " << responseLength << " trial " << trial << " lane " << k;
            }
        }
    }
    // The post-filter with a shape made beforehand is the post-filter.
    const PostFilterConfig config = Config(20, PitchGateEdges::RatioInclusive);
    PostFilterState a, b;
    ResetPostFilter(a);
    ResetPostFilter(b);
    for (int trial = 0; trial < 40; ++trial) {
        float lpc[2][kPostOrder];
        RandomLpc(rng, lpc[0]);
        RandomLpc(rng, lpc[1]);
        PostFilterShape shape[2];
        PostFilterShapePair(lpc[0], lpc[1], config, shape[0], shape[1]);
        for (int k = 0; k < 2; ++k) {
            auto s = Material(rng, 32, 40.3, 2000.0f, 200.0f);
            float viaLpc[kPostMaxSubframe], viaShape[kPostMaxSubframe];
            PostFilterSubframe(a, s.data(), 40, lpc[k], 32, config, viaLpc);
            PostFilterSubframe(b, s.data(), 40, shape[k], 32, config, viaShape);
            ExpectSameBits(viaShape, viaLpc, 32, "post-filter with a shape", trial);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, PostFilterSubframeOn, ::testing::Values(Simd::Plain, Simd::Sse2, Simd::Avx2),
                         [](const ::testing::TestParamInfo<Simd> &kind) {
                             return kind.param == Simd::Avx2 ? "Avx2" : (kind.param == Simd::Sse2 ? "Sse2" : "Plain");
                         });

} // namespace
} // namespace vntr::dsp
