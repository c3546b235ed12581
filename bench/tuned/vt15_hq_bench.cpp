// VT15 HQ's encoder beside VT15's.
#include "tuned_bench.hpp"
#include "vt15_hq.hpp"

namespace {

using vntr::bench::EncodeSpeech;
using Tuned = vntr::tuned::TunedEngine<vntr::tuned::Vt15Hq>;
using Described = vntr::vt15::Engine;
constexpr uint32_t kFormat = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_16BIT | CODEC_FMT_8KHZ;

void TunedEncode(benchmark::State &state) {
    EncodeSpeech<Tuned>(state, kFormat, 0);
}
void DescribedEncode(benchmark::State &state) {
    EncodeSpeech<Described>(state, kFormat, 0);
}

BENCHMARK(TunedEncode);
BENCHMARK(DescribedEncode);

} // namespace

BENCHMARK_MAIN();
