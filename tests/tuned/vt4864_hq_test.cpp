// VT4864 HQ's engine: the encoder the library opens keeps the decoder's
// excitation, synthesis memory and LSPs in step at both rates and across rate
// switches; the exhaustive pulse search finds the best path of the whole tree;
// the vectorised leaf kernel chooses exactly as the plain one.
#include "recordings.hpp"
#include "vt4864_hq.hpp"

#include <decoder.hpp>
#include <excitation.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

namespace vntr::tuned {
namespace {

using Engine = TunedEngine<Vt4864Hq>;
using vt4864v6::kRate4800;
using vt4864v6::kRate6400;
using vt4864v6::RateMode;
constexpr uint32_t k16 = CODEC_FMT_PCM16_MONO_8KHZ;

TEST(Vt4864Hq, EncoderAndDecoderStayInStepAtBothRatesAndAcrossSwitches) {
    auto speech = test::RecordingSamples("hts1a");
    const auto more = test::RecordingSamples("kristoff", 240 * 100);
    speech.insert(speech.end(), more.begin(), more.end());
    if (speech.empty()) GTEST_SKIP() << "codec2-examples not installed";
    // The library's searches, and with them the closed-loop lag the engine also offers.
    for (const uint32_t options : {0u, CODEC_OPT_4800, CODEC_OPT_6400, CODEC_OPT_4800 | 0x80000000u}) {
        SCOPED_TRACE(options);
        const bool closedLoopLag = (options & 0x80000000u) != 0;
        const uint32_t open = options & ~0x80000000u;
        auto enc = std::make_unique<Engine::EncoderState>();
        CodecFormat format{};
        ASSERT_EQ(Engine::SelectMode(k16, open, format), CODEC_OK);
        EXPECT_EQ(format.codecId, open == 0 ? 2226 : open == CODEC_OPT_4800 ? 2227 : 2228);
        ASSERT_EQ(Engine::InitEncoder(*enc, format, k16, open), CODEC_OK);
        ASSERT_EQ(enc->coder.searches, Vt4864Hq::kSearches);
        if (closedLoopLag) enc->coder.searches |= vt4864v6::kClosedLoopLag;
        auto dec = std::make_unique<vt4864v6::DecoderState>();
        vt4864v6::InitDecoder(*dec);
        for (std::size_t f = 0; f + 240 <= speech.size(); f += 240) {
            // The variable mode switches rate every third frame.
            const RateMode &rate = open == CODEC_OPT_4800            ? kRate4800
                                   : open == 0 && (f / 240) % 3 == 2 ? kRate4800
                                                                     : kRate6400;
            uint8_t coded[vt4864v6::kMaxCodedBytes];
            vt4864v6::EncodeFrame(enc->coder, &speech[f], rate, coded);
            int16_t pcm[240];
            vt4864v6::DecodeFrame(*dec, coded, pcm, false);
            ASSERT_EQ(0, std::memcmp(enc->coder.excitation, dec->excitation, sizeof dec->excitation))
                << "frame " << f / 240;
            ASSERT_EQ(0, std::memcmp(enc->coder.past, dec->past, sizeof dec->past));
            ASSERT_EQ(0, std::memcmp(enc->coder.synthesis, dec->synthesis, sizeof dec->synthesis));
            ASSERT_EQ(enc->coder.previousLsp, dec->previousLsp);
        }
    }
}

// S^2 / E of a pulse vector against the target, as the search defines them.
double Score(const float *target, const float *h, const int *position, const float *sign, int length) {
    std::vector<double> f(static_cast<std::size_t>(length), 0.0);
    for (int k = 0; k < vt4864v6::kPulses; ++k) {
        for (int n = position[k]; n < length; ++n) f[static_cast<std::size_t>(n)] += sign[k] * h[n - position[k]];
    }
    double s = 0, e = 0;
    for (int n = 0; n < length; ++n) {
        s += target[n] * f[static_cast<std::size_t>(n)];
        e += f[static_cast<std::size_t>(n)] * f[static_cast<std::size_t>(n)];
    }
    return e > 0 ? s * s / e : 0.0;
}

TEST(Vt4864Hq, ExhaustivePulseSearchFindsTheBestPathOfTheTree) {
    std::mt19937 rng(7);
    std::normal_distribution<float> normal(0.0f, 1000.0f);
    for (const RateMode *mode : {&kRate6400, &kRate4800}) {
        const int length = mode->subframeLength;
        for (int trial = 0; trial < 3; ++trial) {
            SCOPED_TRACE(testing::Message() << "L " << length << " trial " << trial);
            float h[vt4864v6::kMaxSubframeLength], target[vt4864v6::kMaxSubframeLength];
            for (int n = 0; n < length; ++n) {
                h[n] = std::pow(0.85f, static_cast<float>(n)) * std::cos(0.4f * static_cast<float>(n + trial));
                target[n] = normal(rng);
            }
            float c[vt4864v6::kMaxSubframeLength], f[vt4864v6::kMaxSubframeLength];
            for (const auto simd : {dsp::Simd::Plain, dsp::DetectSimd()}) {
                const vt4864v6::PulseChoice chosen = vt4864v6::SearchPulsesExhaustive(target, h, *mode, simd, c, f);
                ASSERT_TRUE(chosen.scored);
                const double found = Score(target, h, chosen.position, chosen.sign, length);
                // Every path, each pulse signed by the backward-filtered target at its sample.
                float d[vt4864v6::kMaxSubframeLength];
                for (int n = 0; n < length; ++n) {
                    double sum = 0;
                    for (int i = n; i < length; ++i) sum += target[i] * h[i - n];
                    d[n] = static_cast<float>(sum);
                }
                double best = 0;
                const uint32_t words = static_cast<uint32_t>(mode->grid) << 12;
                for (uint32_t w = 0; w < words; ++w) {
                    const uint32_t word = (w >> 12) | ((w & 0xFFFu) << mode->GridBits());
                    int position[vt4864v6::kPulses];
                    float sign[vt4864v6::kPulses];
                    vt4864v6::PulsePositions(word, *mode, position);
                    for (int k = 0; k < vt4864v6::kPulses; ++k) sign[k] = d[position[k]] < 0 ? -1.0f : 1.0f;
                    best = std::max(best, Score(target, h, position, sign, length));
                }
                EXPECT_GE(found, best * (1 - 1e-5));
                // c and f are the chosen pulses and their filtered form.
                for (int n = 0; n < length; ++n) {
                    double fn = 0;
                    for (int i = 0; i <= n; ++i) fn += c[i] * h[n - i];
                    EXPECT_NEAR(f[n], fn, 1e-3);
                }
            }
        }
    }
}

TEST(Vt4864Hq, VectorisedKernelsGiveThePlainKernelsResults) {
#if !defined(VNTR_SIMD_AVX2)
    GTEST_SKIP() << "this build has no AVX2 kernels";
#else
    if (dsp::DetectSimd() != dsp::Simd::Avx2) GTEST_SKIP() << "no AVX2 here";
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int replaced = 0, late = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        const RateMode &mode = trial % 2 == 0 ? kRate6400 : kRate4800;
        const int length = mode.subframeLength;
        std::uniform_int_distribution<int> position(0, length - 1);
        // Wrapped cross vector and row, their step pairs by both kernels.
        alignas(32) float c3[vt4864v6::kWrapped], r4[vt4864v6::kWrapped];
        for (int n = 0; n < length; ++n) {
            c3[n] = 50.0f * u(rng);
            r4[n] = 30.0f * u(rng);
        }
        for (int n = length; n < vt4864v6::kWrapped; ++n) {
            c3[n] = c3[n - length];
            r4[n] = r4[n - length];
        }
        alignas(32) float pairs3[vt4864v6::kStepPairs], pairs4[vt4864v6::kStepPairs], wide[vt4864v6::kStepPairs];
        vt4864v6::StepPairs(c3, mode.steps[5].data(), length, pairs3);
        vt4864v6::StepPairs(r4, mode.steps[5].data(), length, pairs4);
        vt4864v6::avx2::StepPairs(r4, mode.steps[5].data(), length, wide);
        ASSERT_EQ(std::memcmp(pairs4, wide, sizeof(float) * 4 * static_cast<std::size_t>((length + 7) / 8 * 8)), 0);
        float sum[vt4864v6::kWrapped], wideSum[vt4864v6::kWrapped];
        vt4864v6::AddRow(c3, r4, sum, 122 + trial % 30);
        vt4864v6::avx2::AddRow(c3, r4, wideSum, 122 + trial % 30);
        ASSERT_EQ(std::memcmp(sum, wideSum, sizeof(float) * static_cast<std::size_t>(122 + trial % 30)), 0);

        vt4864v6::LeafBlock blocks[vt4864v6::kChildren]{};
        const vt4864v6::LeafBlock *children[vt4864v6::kChildren];
        for (int i = 0; i < vt4864v6::kChildren; ++i) {
            vt4864v6::LeafBlock &block = blocks[i];
            block.p5 = position(rng);
            for (int j = 0; j < 4; ++j) {
                const int p6 = position(rng);
                for (int k = 0; k < 4; ++k) {
                    const int l = 4 * j + k;
                    block.p6[l] = p6;
                    block.q[l] = 300.0f * std::fabs(u(rng)) + (trial % 7 == 0 ? -600.0f : 0.0f); // some energies <= 0
                    block.a[l] = 40.0f * std::fabs(u(rng));
                }
            }
            children[i] = &block;
        }
        const vt4864v6::NodeView node{c3, r4, pairs3, pairs4, 300.0f + 100.0f * u(rng), 30.0f * std::fabs(u(rng))};
        // A best that the leaves beat now and then, several times over in some.
        vt4864v6::TreeBest start;
        start.s = 60.0f + 20.0f * u(rng);
        start.s2 = start.s * start.s;
        start.e = 500.0f + 400.0f * std::fabs(u(rng));
        vt4864v6::TreeBest plain = start, vector = start;
        const int a = vt4864v6::ScoreLeaves(children, node, plain);
        const int b = vt4864v6::avx2::ScoreLeaves(children, node, vector);
        ASSERT_EQ(a, b) << "trial " << trial;
        ASSERT_EQ(std::memcmp(&plain, &vector, sizeof plain), 0) << "trial " << trial;
        replaced += a >= 0;
        late += a >= vt4864v6::kLeaves; // a leaf of a later child
    }
    // Both outcomes were exercised, and winners beyond the first child.
    EXPECT_GT(replaced, 1000);
    EXPECT_LT(replaced, 19000);
    EXPECT_GT(late, 500);
#endif
}

} // namespace
} // namespace vntr::tuned
