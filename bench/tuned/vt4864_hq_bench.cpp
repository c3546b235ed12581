// VT4864 HQ's encoder at both rates, beside VT4864v6's.
#include "tuned_bench.hpp"
#include "vt4864_hq.hpp"

namespace {

using vntr::bench::EncodeSpeech;
using Tuned = vntr::tuned::TunedEngine<vntr::tuned::Vt4864Hq>;
using Described = vntr::vt4864v6::Engine;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;

void TunedEncode(benchmark::State &state, uint32_t options) {
    EncodeSpeech<Tuned>(state, kFormat, options);
}
void DescribedEncode(benchmark::State &state, uint32_t options) {
    EncodeSpeech<Described>(state, kFormat, options);
}

BENCHMARK_CAPTURE(TunedEncode, Rate6400, CODEC_OPT_6400);
BENCHMARK_CAPTURE(TunedEncode, Rate4800, CODEC_OPT_4800);
BENCHMARK_CAPTURE(DescribedEncode, Rate6400, CODEC_OPT_6400);
BENCHMARK_CAPTURE(DescribedEncode, Rate4800, CODEC_OPT_4800);

} // namespace

BENCHMARK_MAIN();
