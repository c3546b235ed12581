// VT48 HQ's encoder beside VT48's.
#include "tuned_bench.hpp"
#include "vt48_hq.hpp"

namespace {

using vntr::bench::EncodeSpeech;
using Tuned = vntr::tuned::TunedEngine<vntr::tuned::Vt48Hq>;
using Described = vntr::vt48::Engine;
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
