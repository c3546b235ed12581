// Encode and decode speed of the three audio coders, through their exported
// interface, in multiples of real time at each coder's own sample rate, on
// real speech (kristoff.raw from codec2-examples, resampled where needed).
// The counter x_realtime is seconds of audio per second of CPU time;
// allocs_per_frame must stay 0.
#include "alloc_counter.hpp"
#include "codec_stream.hpp"
#include "signals.hpp"
#include "test_paths.hpp"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using namespace vntr;

struct Coder {
    const char *name;
    uint32_t format;
    int rate;
};

const Coder kCoders[] = {{"VT180", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
                         {"VT250f11", CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ, 11025},
                         {"VT500f22", CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ, 22050}};

std::vector<int16_t> Speech(int rate) {
    auto x = test::ReadRaw(test::SpeechRecording("kristoff"));
    if (x.empty()) x = test::Tone(8000 * 10, 440, 8000, 8000); // without the recording, a tone
    return rate == 8000 ? x : test::Resample(x, 8000, rate);
}

void BM_Encode(benchmark::State &state, Coder c) {
    CodecBinding lib(test::CodecLibraryPath(c.name));
    const auto pcm = Speech(c.rate);
    const std::size_t frames = pcm.size() / 1152;
    CodecFormat f{};
    lib.openEncoder(c.format, 0, &f);
    std::vector<uint8_t> out(f.maxCodedBytes);
    std::size_t frame = 0;
    uint64_t coded = 0;
    const uint64_t allocsBefore = bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = f.frameBytes, cap = f.maxCodedBytes;
        lib.encode(f.handle, 0, &pcm[frame * 1152], &in, out.data(), &cap);
        coded += cap;
        frame = (frame + 1) % frames;
    }
    const double allocs = static_cast<double>(bench::AllocationCount() - allocsBefore);
    lib.closeEncoder(f.handle);
    state.counters["x_realtime"] = benchmark::Counter(1152.0 / c.rate, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["bit_rate"] = static_cast<double>(coded) * 8 / (state.iterations() * 1152.0 / c.rate);
}

void BM_Decode(benchmark::State &state, Coder c) {
    CodecBinding lib(test::CodecLibraryPath(c.name));
    const auto stream = test::EncodeAll(lib, c.format, 0, Speech(c.rate));
    CodecFormat f{};
    lib.openDecoder(c.format, 0, &f);
    std::vector<uint8_t> pcm(f.frameBytes);
    std::size_t pos = 0;
    uint64_t restartAllocs = 0;
    const uint64_t allocsBefore = bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = static_cast<uint16_t>(std::min<std::size_t>(stream.bytes.size() - pos, f.maxCodedBytes));
        uint16_t cap = f.frameBytes;
        if (lib.decode(f.handle, 0, stream.bytes.data() + pos, &in, pcm.data(), &cap) != CODEC_OK) {
            // End of the stream: start over with a fresh decoder, outside the timing.
            state.PauseTiming();
            const uint64_t before = bench::AllocationCount();
            lib.closeDecoder(f.handle);
            lib.openDecoder(c.format, 0, &f);
            restartAllocs += bench::AllocationCount() - before;
            pos = 0;
            state.ResumeTiming();
            continue;
        }
        pos += in;
    }
    const double allocs = static_cast<double>(bench::AllocationCount() - allocsBefore - restartAllocs);
    lib.closeDecoder(f.handle);
    state.counters["x_realtime"] = benchmark::Counter(1152.0 / c.rate, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
}

int Register() {
    for (const Coder &c : kCoders) {
        benchmark::RegisterBenchmark((std::string("Encode/") + c.name).c_str(), BM_Encode, c);
        benchmark::RegisterBenchmark((std::string("Decode/") + c.name).c_str(), BM_Decode, c);
    }
    return 0;
}
const int registered = Register();

} // namespace

BENCHMARK_MAIN();
