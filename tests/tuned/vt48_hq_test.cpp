// VT48 HQ's engine: the encoder the library opens keeps the decoder's
// excitation, envelope and synthesis memories exactly, frame after frame of
// real speech, and carries its weighting memories through silence and
// full-scale input without running away.
#include "recordings.hpp"
#include "vt48_hq.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

namespace vntr::tuned {
namespace {

using Engine = TunedEngine<Vt48Hq>;
constexpr uint32_t k16 = vt48::kFormat16Bit | CODEC_FMT_8KHZ;

std::unique_ptr<Engine::EncoderState> OpenEncoder() {
    auto state = std::make_unique<Engine::EncoderState>();
    CodecFormat format{};
    EXPECT_EQ(Engine::SelectMode(k16, 0, format), CODEC_OK);
    EXPECT_EQ(format.codecId, 2220);
    EXPECT_EQ(Engine::InitEncoder(*state, format, k16, 0), CODEC_OK);
    EXPECT_EQ(state->coder.refinements, Vt48Hq::kRefinements);
    return state;
}

TEST(Vt48Hq, EncoderAndDecoderStayInStepOnSpeech) {
    auto speech = test::RecordingSamples("hts1a");
    const auto more = test::RecordingSamples("kristoff", vt48::kFrameLength * 200);
    speech.insert(speech.end(), more.begin(), more.end());
    if (speech.empty()) GTEST_SKIP() << "codec2-examples not installed";
    auto enc = OpenEncoder();
    auto dec = std::make_unique<vt48::DecoderState>();
    vt48::InitDecoder(*dec);
    for (std::size_t f = 0; f + vt48::kFrameLength <= speech.size(); f += vt48::kFrameLength) {
        uint8_t coded[vt48::kCodedBytes];
        vt48::EncodeFrame(enc->coder, reinterpret_cast<const uint8_t *>(&speech[f]), coded);
        int16_t pcm[vt48::kFrameLength];
        vt48::DecodeFrame(*dec, coded, pcm);
        ASSERT_EQ(0, std::memcmp(enc->coder.excitation, dec->excitation, sizeof dec->excitation))
            << "frame " << f / vt48::kFrameLength;
        ASSERT_EQ(enc->coder.previousLsf, dec->previousLsf);
        for (int s = 0; s < vt48::kSubframes; ++s) {
            ASSERT_EQ(0, std::memcmp(enc->coder.lpc[s], dec->lpc[s], sizeof dec->lpc[s]));
        }
    }
}

TEST(Vt48Hq, CarriedMemoriesStayFiniteThroughSilenceAndFullScale) {
    auto enc = OpenEncoder();
    std::vector<int16_t> input(vt48::kFrameLength * 120, 0);
    for (std::size_t n = vt48::kFrameLength * 40; n < vt48::kFrameLength * 80; ++n) {
        input[n] = static_cast<int16_t>((n / 13) % 2 != 0 ? 32767 : -32768);
    }
    for (std::size_t f = 0; f < input.size(); f += vt48::kFrameLength) {
        uint8_t coded[vt48::kCodedBytes];
        vt48::EncodeFrame(enc->coder, reinterpret_cast<const uint8_t *>(&input[f]), coded);
        for (int i = 0; i < vt48::kOrder; ++i) {
            ASSERT_TRUE(std::isfinite(enc->coder.weightedError[i])) << "frame " << f / vt48::kFrameLength;
            ASSERT_TRUE(std::isfinite(enc->coder.speechError[i]));
        }
    }
    // After the silence at the end the memories have died away.
    for (int i = 0; i < vt48::kOrder; ++i) EXPECT_LT(std::fabs(enc->coder.weightedError[i]), 32.0f);
}

} // namespace
} // namespace vntr::tuned
