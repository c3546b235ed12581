// VT120 HQ's encoder beside VT120's.
#include "tuned_bench.hpp"
#include "vt120_hq.hpp"

namespace {

using vntr::bench::EncodeSpeech;
using Tuned = vntr::tuned::TunedEngine<vntr::tuned::Vt120Hq>;
using Described = vntr::vt120::Engine;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;

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
