// Speed of VT15 in multiples of real time, through the same codec frame the
// library exports: the counter "xRealTime" is seconds of speech coded per
// second of one core; "allocs_per_frame" must stay 0.  Speech: codec2-examples'
// kristoff.raw or cq_ref.raw when installed, otherwise a synthetic speech-like signal.
// With libcodec2, its 1600 and 1300 bit/s modes run over the same speech in
// the same program, for comparison.
#include "alloc_counter.hpp"
#include "engine.hpp"

#if VNTR_BENCH_CODEC2
#include <codec2/codec2.h>
#endif

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Codec = vntr::frame::Frame<vntr::vt15::Engine>;
constexpr uint32_t kFormat = CODEC_FMT_PCM16_MONO_8KHZ;
constexpr int kSamples = vntr::vt15::kFrameLength;
constexpr double kFrameSeconds = kSamples / 8000.0;

std::vector<int16_t> LoadSpeech() {
    for (const char *path : {"/usr/share/codec2/raw/kristoff.raw", "/usr/share/codec2/raw/cq_ref.raw"}) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (bytes.size() >= 2 * kSamples * 50) {
            std::vector<int16_t> pcm(bytes.size() / 2 / kSamples * kSamples);
            std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
            return pcm;
        }
    }
    std::vector<int16_t> pcm(kSamples * 200);
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
    Codec::OpenEncoder(kFormat, 0, &enc);
    std::vector<uint8_t> coded;
    const auto &pcm = Speech();
    std::vector<uint8_t> out(7);
    for (std::size_t f = 0; f + kSamples <= pcm.size(); f += kSamples) {
        uint16_t in = 2 * kSamples, outBytes = 7;
        Codec::Encode(enc.handle, 0, &pcm[f], &in, out.data(), &outBytes);
        coded.insert(coded.end(), out.begin(), out.begin() + std::min<uint16_t>(outBytes, 7));
    }
    uint16_t in = CODEC_END_OF_STREAM, outBytes = 7;
    Codec::Encode(enc.handle, 0, pcm.data(), &in, out.data(), &outBytes);
    coded.insert(coded.end(), out.begin(), out.begin() + std::min<uint16_t>(outBytes, 7));
    Codec::CloseEncoder(enc.handle);
    return coded;
}

void Encode(benchmark::State &state) {
    const auto &pcm = Speech();
    CodecFormat enc{};
    Codec::OpenEncoder(kFormat, 0, &enc);
    std::size_t f = 0;
    uint8_t out[7];
    const uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = 2 * kSamples, outBytes = sizeof out;
        Codec::Encode(enc.handle, 0, &pcm[f], &in, out, &outBytes);
        benchmark::DoNotOptimize(out);
        f = f + 2 * kSamples <= pcm.size() ? f + kSamples : 0;
    }
    const double allocs = static_cast<double>(vntr::bench::AllocationCount() - allocsBefore);
    Codec::CloseEncoder(enc.handle);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] =
        benchmark::Counter(kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Decode(benchmark::State &state) {
    const std::vector<uint8_t> coded = EncodeAll();
    CodecFormat dec{};
    Codec::OpenDecoder(kFormat, 0, &dec);
    std::size_t pos = 0;
    int16_t pcm[kSamples];
    uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = static_cast<uint16_t>(std::min<std::size_t>(7, coded.size() - pos)), outBytes = sizeof pcm;
        if (Codec::Decode(dec.handle, 0, &coded[pos], &in, pcm, &outBytes) != CODEC_OK) {
            // End of the stream: start again with a fresh decoder (outside the timing).
            state.PauseTiming();
            const uint64_t beforeReopen = vntr::bench::AllocationCount();
            Codec::CloseDecoder(dec.handle);
            Codec::OpenDecoder(kFormat, 0, &dec);
            allocsBefore += vntr::bench::AllocationCount() - beforeReopen; // not a frame's
            pos = 0;
            state.ResumeTiming();
            continue;
        }
        benchmark::DoNotOptimize(pcm);
        pos += in;
    }
    const double allocs = static_cast<double>(vntr::bench::AllocationCount() - allocsBefore);
    Codec::CloseDecoder(dec.handle);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] =
        benchmark::Counter(kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(Encode);
BENCHMARK(Decode);

#if VNTR_BENCH_CODEC2
// Codec2 in one of its modes over the same speech, as xRealTime.
void Codec2Run(benchmark::State &state, int mode, bool decode) {
    const auto &pcm = Speech();
    CODEC2 *c2 = codec2_create(mode);
    const int samples = codec2_samples_per_frame(c2);
    std::vector<unsigned char> bits(static_cast<std::size_t>(codec2_bytes_per_frame(c2)));
    std::vector<std::vector<unsigned char>> coded;
    for (std::size_t f = 0; f + static_cast<std::size_t>(samples) <= pcm.size();
         f += static_cast<std::size_t>(samples)) {
        codec2_encode(c2, bits.data(), const_cast<short *>(&pcm[f]));
        coded.push_back(bits);
    }
    std::vector<short> out(static_cast<std::size_t>(samples));
    std::size_t f = 0;
    for (auto _ : state) {
        if (decode) {
            codec2_decode(c2, out.data(), coded[f].data());
            benchmark::DoNotOptimize(out.data());
            f = f + 1 < coded.size() ? f + 1 : 0;
        } else {
            codec2_encode(c2, bits.data(), const_cast<short *>(&pcm[f]));
            benchmark::DoNotOptimize(bits.data());
            f = f + 2 * static_cast<std::size_t>(samples) <= pcm.size() ? f + static_cast<std::size_t>(samples) : 0;
        }
    }
    codec2_destroy(c2);
    state.counters["xRealTime"] =
        benchmark::Counter(samples / 8000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK_CAPTURE(Codec2Run, Encode1600, CODEC2_MODE_1600, false);
BENCHMARK_CAPTURE(Codec2Run, Decode1600, CODEC2_MODE_1600, true);
BENCHMARK_CAPTURE(Codec2Run, Encode1300, CODEC2_MODE_1300, false);
BENCHMARK_CAPTURE(Codec2Run, Decode1300, CODEC2_MODE_1300, true);
#endif

} // namespace

BENCHMARK_MAIN();
