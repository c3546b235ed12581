// Speed of a tuned encoder beside its described one, through the codec frame
// each library exports: "xRealTime" is seconds of speech coded per second of
// one core (the aim is 300 and more), "allocs_per_frame" must stay 0.
// Speech: codec2-examples' kristoff.raw or cq_ref.raw when installed,
// otherwise a synthetic speech-like signal.
#pragma once

#include "alloc_counter.hpp"

#include <vntr/codec_frame.hpp>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace vntr::bench {

inline const std::vector<int16_t> &TunedBenchSpeech() {
    static const std::vector<int16_t> speech = [] {
        for (const char *path : {"/usr/share/codec2/raw/kristoff.raw", "/usr/share/codec2/raw/cq_ref.raw"}) {
            std::ifstream in(path, std::ios::binary);
            std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            if (bytes.size() >= 16000 * 4) {
                std::vector<int16_t> pcm(bytes.size() / 2);
                std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
                return pcm;
            }
        }
        std::vector<int16_t> pcm(8000 * 8);
        for (std::size_t n = 0; n < pcm.size(); ++n) {
            const double t = static_cast<double>(n) / 8000.0;
            pcm[n] = static_cast<int16_t>(5000.0 * std::sin(2 * 3.14159 * 140 * t) * std::sin(2 * 3.14159 * 3 * t) +
                                          2000.0 * std::sin(2 * 3.14159 * 900 * t));
        }
        return pcm;
    }();
    return speech;
}

// Encodes the speech frame after frame, round and round, with one handle of engine E.
template <class E>
void EncodeSpeech(benchmark::State &state, uint32_t format, uint32_t options) {
    using Frame = frame::Frame<E>;
    const auto &pcm = TunedBenchSpeech();
    CodecFormat enc{};
    if (Frame::OpenEncoder(format, options, &enc) != CODEC_OK) {
        state.SkipWithError("OpenEncoder failed");
        return;
    }
    const std::size_t samples = enc.frameBytes / 2;
    std::vector<uint8_t> out(enc.maxCodedBytes);
    std::size_t at = 0;
    const uint64_t allocsBefore = AllocationCount();
    for (auto _ : state) {
        uint16_t in = enc.frameBytes, outBytes = enc.maxCodedBytes;
        Frame::Encode(enc.handle, 0, &pcm[at], &in, out.data(), &outBytes);
        benchmark::DoNotOptimize(out.data());
        at = at + 2 * samples <= pcm.size() ? at + samples : 0;
    }
    const double allocs = static_cast<double>(AllocationCount() - allocsBefore);
    Frame::CloseEncoder(enc.handle);
    state.counters["allocs_per_frame"] = allocs / static_cast<double>(state.iterations());
    state.counters["xRealTime"] = benchmark::Counter(
        static_cast<double>(samples) / 8000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

} // namespace vntr::bench
