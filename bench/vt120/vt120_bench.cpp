// Speed of VT120 in multiples of real time, through the same codec frame the
// library exports: the counter "xRealTime" is seconds of speech coded per
// second of one core; "allocs_per_frame" must stay 0.  Speech:
// codec2-examples' kristoff.raw or cq_ref.raw when installed, otherwise a
// synthetic speech-like signal.
#include "alloc_counter.hpp"
#include "engine.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Frame = vntr::frame::Frame<vntr::vt120::Engine>;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;
constexpr int kSamples = vntr::vt120::kFrameLength;
constexpr double kFrameSeconds = kSamples / 8000.0;

std::vector<int16_t> LoadSpeech() {
    for (const char *path : {"/usr/share/codec2/raw/kristoff.raw", "/usr/share/codec2/raw/cq_ref.raw"}) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (bytes.size() >= 2 * kSamples * 200) {
            std::vector<int16_t> pcm(bytes.size() / 2 / kSamples * kSamples);
            std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
            return pcm;
        }
    }
    std::vector<int16_t> pcm(kSamples * 1000);
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

std::vector<uint8_t> EncodeAll() {
    CodecFormat enc{};
    Frame::OpenEncoder(kFormat, 0, &enc);
    std::vector<uint8_t> coded;
    const auto &pcm = Speech();
    for (std::size_t f = 0; f + kSamples <= pcm.size(); f += kSamples) {
        uint8_t out[12];
        uint16_t in = 2 * kSamples, outBytes = sizeof out;
        Frame::Encode(enc.handle, 0, &pcm[f], &in, out, &outBytes);
        coded.insert(coded.end(), out, out + outBytes);
    }
    Frame::CloseEncoder(enc.handle);
    return coded;
}

void Encode(benchmark::State &state) {
    const auto &pcm = Speech();
    CodecFormat enc{};
    Frame::OpenEncoder(kFormat, 0, &enc);
    std::size_t f = 0;
    uint8_t out[12];
    const uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = 2 * kSamples, outBytes = sizeof out;
        Frame::Encode(enc.handle, 0, &pcm[f], &in, out, &outBytes);
        benchmark::DoNotOptimize(out);
        f = f + 2 * kSamples <= pcm.size() ? f + kSamples : 0;
    }
    const double allocs = static_cast<double>(vntr::bench::AllocationCount() - allocsBefore);
    Frame::CloseEncoder(enc.handle);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] =
        benchmark::Counter(kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Decode(benchmark::State &state) {
    const std::vector<uint8_t> coded = EncodeAll();
    CodecFormat dec{};
    Frame::OpenDecoder(kFormat, 0, &dec);
    std::size_t pos = 0;
    int16_t pcm[kSamples];
    const uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = 12, outBytes = sizeof pcm;
        Frame::Decode(dec.handle, 0, &coded[pos], &in, pcm, &outBytes);
        benchmark::DoNotOptimize(pcm);
        pos = pos + 24 <= coded.size() ? pos + 12 : 0;
    }
    const double allocs = static_cast<double>(vntr::bench::AllocationCount() - allocsBefore);
    Frame::CloseDecoder(dec.handle);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] =
        benchmark::Counter(kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(Encode);
BENCHMARK(Decode);

} // namespace

BENCHMARK_MAIN();
