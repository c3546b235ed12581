// Speed of VT4864v6 in multiples of real time, through the same codec frame
// the library exports: the counter "xRealTime" is seconds of speech coded per
// second of one core; "allocs_per_frame" must stay 0.  Speech: codec2-examples' kristoff.raw or cq_ref.raw
// when installed, otherwise a synthetic speech-like signal.
#include "alloc_counter.hpp"
#include "engine.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Frame = vntr::frame::Frame<vntr::vt4864v6::Engine>;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;

std::vector<int16_t> LoadSpeech() {
    for (const char *path : {"/usr/share/codec2/raw/kristoff.raw", "/usr/share/codec2/raw/cq_ref.raw"}) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (bytes.size() >= 480 * 50) {
            std::vector<int16_t> pcm(bytes.size() / 2 / 240 * 240);
            std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
            return pcm;
        }
    }
    std::vector<int16_t> pcm(240 * 200);
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        pcm[n] = static_cast<int16_t>(5000.0 * std::sin(2 * 3.14159 * 140 * t) * std::sin(2 * 3.14159 * 3 * t) +
                                      2000.0 * std::sin(2 * 3.14159 * 900 * t));
    }
    return pcm;
}

const std::vector<int16_t> &Speech() {
    static const std::vector<int16_t> speech = LoadSpeech();
    return speech;
}

std::vector<uint8_t> EncodeAll(uint32_t options) {
    CodecFormat enc{};
    Frame::OpenEncoder(kFormat, options, &enc);
    std::vector<uint8_t> coded;
    const auto &pcm = Speech();
    for (std::size_t f = 0; f + 240 <= pcm.size(); f += 240) {
        uint8_t out[24];
        uint16_t in = 480, outBytes = sizeof out;
        Frame::Encode(enc.handle, 0, &pcm[f], &in, out, &outBytes);
        coded.insert(coded.end(), out, out + outBytes);
    }
    Frame::CloseEncoder(enc.handle);
    return coded;
}

void Encode(benchmark::State &state, uint32_t options) {
    const auto &pcm = Speech();
    CodecFormat enc{};
    Frame::OpenEncoder(kFormat, options, &enc);
    std::size_t f = 0;
    uint8_t out[24];
    const uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = 480, outBytes = sizeof out;
        Frame::Encode(enc.handle, 0, &pcm[f], &in, out, &outBytes);
        benchmark::DoNotOptimize(out);
        f = f + 480 <= pcm.size() ? f + 240 : 0;
    }
    const double allocs = static_cast<double>(vntr::bench::AllocationCount() - allocsBefore);
    Frame::CloseEncoder(enc.handle);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] =
        benchmark::Counter(0.03 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Decode(benchmark::State &state, uint32_t options) {
    const std::vector<uint8_t> coded = EncodeAll(options);
    const std::size_t frameBytes = options == CODEC_OPT_4800 ? 18 : 24;
    CodecFormat dec{};
    Frame::OpenDecoder(kFormat, options, &dec);
    std::size_t pos = 0;
    int16_t pcm[240];
    const uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = static_cast<uint16_t>(frameBytes), outBytes = sizeof pcm;
        Frame::Decode(dec.handle, 0, &coded[pos], &in, pcm, &outBytes);
        benchmark::DoNotOptimize(pcm);
        pos = pos + 2 * frameBytes <= coded.size() ? pos + frameBytes : 0;
    }
    const double allocs = static_cast<double>(vntr::bench::AllocationCount() - allocsBefore);
    Frame::CloseDecoder(dec.handle);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] =
        benchmark::Counter(0.03 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(Encode, Rate6400, CODEC_OPT_6400);
BENCHMARK_CAPTURE(Encode, Rate4800, CODEC_OPT_4800);
BENCHMARK_CAPTURE(Decode, Rate6400, CODEC_OPT_6400);
BENCHMARK_CAPTURE(Decode, Rate4800, CODEC_OPT_4800);

} // namespace

BENCHMARK_MAIN();
