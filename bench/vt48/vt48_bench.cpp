// Speed of VT48 in multiples of real time, through the same codec frame the
// library exports: the counter "xRealTime" is seconds of speech coded per
// second of one core; "allocs_per_frame" must stay 0.  Speech: codec2-examples'
// kristoff.raw or cq_ref.raw when installed, otherwise a synthetic speech-like
// signal.  The encoder with its waveform refinements (encoder.hpp) runs
// beside the library's plain searches for comparison.
#include "alloc_counter.hpp"
#include "engine.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using Frame = vntr::frame::Frame<vntr::vt48::Engine>;
using vntr::vt48::kFrameLength;
constexpr uint32_t kFormat16 = CODEC_FMT_PCM16_MONO_8KHZ;
constexpr uint32_t kFormat8 = CODEC_FMT_PCM | CODEC_FMT_MONO | CODEC_FMT_8BIT | CODEC_FMT_8KHZ;
constexpr double kFrameSeconds = 0.02;

std::vector<int16_t> LoadSpeech() {
    for (const char *path : {"/usr/share/codec2/raw/kristoff.raw", "/usr/share/codec2/raw/cq_ref.raw"}) {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (bytes.size() >= 320 * 50) {
            std::vector<int16_t> pcm(bytes.size() / 2 / kFrameLength * kFrameLength);
            std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
            return pcm;
        }
    }
    std::vector<int16_t> pcm(kFrameLength * 200);
    for (std::size_t n = 0; n < pcm.size(); ++n) {
        const double t = static_cast<double>(n) / 8000.0;
        pcm[n] = static_cast<int16_t>(5000.0 * std::sin(2 * 3.14159 * 140 * t) * std::sin(2 * 3.14159 * 3 * t) +
                                      2000.0 * std::sin(2 * 3.14159 * 900 * t));
    }
    return pcm;
}

// The speech as the caller's PCM of the given width.
std::vector<uint8_t> Pcm(bool eightBit) {
    static const std::vector<int16_t> speech = LoadSpeech();
    std::vector<uint8_t> pcm;
    for (int16_t s : speech) {
        if (eightBit) {
            pcm.push_back(vntr::vt48::ToPcm8(s));
        } else {
            pcm.push_back(static_cast<uint8_t>(s & 0xFF));
            pcm.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
        }
    }
    return pcm;
}

void SetRefinements(const CodecFormat &enc, uint32_t refinements) {
    static_cast<vntr::frame::HandleBlock<vntr::vt48::Engine::EncoderState, 1> *>(enc.handle)->state.coder.refinements =
        refinements;
}

void Report(benchmark::State &state, uint64_t allocsBefore) {
    const double allocs = static_cast<double>(vntr::bench::AllocationCount() - allocsBefore);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] =
        benchmark::Counter(kFrameSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Encode(benchmark::State &state, bool eightBit, uint32_t refinements) {
    const std::vector<uint8_t> pcm = Pcm(eightBit);
    CodecFormat enc{};
    Frame::OpenEncoder(eightBit ? kFormat8 : kFormat16, 0, &enc);
    SetRefinements(enc, refinements);
    std::size_t at = 0;
    uint8_t out[12];
    const uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = enc.frameBytes, outBytes = sizeof out;
        Frame::Encode(enc.handle, 0, &pcm[at], &in, out, &outBytes);
        benchmark::DoNotOptimize(out);
        at = at + 2u * enc.frameBytes <= pcm.size() ? at + enc.frameBytes : 0;
    }
    Report(state, allocsBefore);
    Frame::CloseEncoder(enc.handle);
}

void Decode(benchmark::State &state, bool eightBit) {
    const std::vector<uint8_t> pcm = Pcm(eightBit);
    CodecFormat enc{}, dec{};
    Frame::OpenEncoder(eightBit ? kFormat8 : kFormat16, 0, &enc);
    std::vector<uint8_t> coded;
    for (std::size_t at = 0; at + enc.frameBytes <= pcm.size(); at += enc.frameBytes) {
        uint8_t out[12];
        uint16_t in = enc.frameBytes, outBytes = sizeof out;
        Frame::Encode(enc.handle, 0, &pcm[at], &in, out, &outBytes);
        coded.insert(coded.end(), out, out + outBytes);
    }
    Frame::CloseEncoder(enc.handle);
    Frame::OpenDecoder(eightBit ? kFormat8 : kFormat16, 0, &dec);
    std::size_t pos = 0;
    uint8_t out[2 * kFrameLength];
    const uint64_t allocsBefore = vntr::bench::AllocationCount();
    for (auto _ : state) {
        uint16_t in = 12, outBytes = sizeof out;
        Frame::Decode(dec.handle, 0, &coded[pos], &in, out, &outBytes);
        benchmark::DoNotOptimize(out);
        pos = pos + 24 <= coded.size() ? pos + 12 : 0;
    }
    Report(state, allocsBefore);
    Frame::CloseDecoder(dec.handle);
}

BENCHMARK_CAPTURE(Encode, Pcm16, false, vntr::vt48::kNoRefinements);
BENCHMARK_CAPTURE(Encode, Pcm8, true, vntr::vt48::kNoRefinements);
BENCHMARK_CAPTURE(Encode, Pcm16Refined, false, vntr::vt48::kWaveformRefinements);
BENCHMARK_CAPTURE(Decode, Pcm16, false);
BENCHMARK_CAPTURE(Decode, Pcm8, true);

} // namespace

BENCHMARK_MAIN();
