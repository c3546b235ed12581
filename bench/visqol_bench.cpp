// Speed of the ViSQOL score (evaluator/core/visqol.hpp) per codec: a
// recording from codec2-examples coded through each library at its own rate,
// then scored against its input, resampling to 16 kHz included.  The counter
// x_realtime is seconds of audio scored per second of CPU time (target: at
// least 100).
#include "codec_stream.hpp"
#include "signals.hpp"
#include "test_paths.hpp"

#include "core/visqol.hpp"

#include <benchmark/benchmark.h>

namespace {

using namespace vntr;

struct Coder {
    const char *name;
    uint32_t format;
    int rate;
};

const Coder kCoders[] = {
    {"VT15", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"VT48", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"VT4864v6", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"VT120", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"VT180", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"VT250f11", CODEC_FMT_PCM16_MONO | CODEC_FMT_11KHZ, 11025},
    {"VT500f22", CODEC_FMT_PCM16_MONO | CODEC_FMT_22KHZ, 22050},
    {"Opus 8k", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"Speex 8k", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"C2 1300", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
    {"GSM-FR", CODEC_FMT_PCM16_MONO_8KHZ, 8000},
};

std::vector<int16_t> Speech(int rate) {
    auto x = test::ReadRaw(test::SpeechRecording("kristoff"));
    if (x.empty()) x = test::Tone(8000 * 10, 440, 8000, 8000); // without the recording, a tone
    return rate == 8000 ? x : test::Resample(x, 8000, rate);
}

void BM_Visqol(benchmark::State &state, Coder c) {
    const auto pcm = Speech(c.rate);
    std::vector<float> reference(pcm.begin(), pcm.end());
    std::vector<float> decoded = reference;
    try {
        CodecBinding lib(test::CodecLibraryPath(c.name));
        const auto coded = test::EncodeAll(lib, c.format, 0, pcm);
        const auto out = test::DecodeAll(lib, c.format, 0, coded.bytes);
        decoded.assign(out.pcm.begin(), out.pcm.end());
    } catch (const std::exception &e) {
        state.SkipWithError(e.what());
        return;
    }
    for (auto _ : state) {
        auto score = evaluator::ScoreVisqol(reference, decoded, c.rate);
        benchmark::DoNotOptimize(score);
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(reference.size()) / c.rate * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

int Register() {
    for (const Coder &c : kCoders) {
        benchmark::RegisterBenchmark((std::string("BM_Visqol/") + c.name).c_str(), BM_Visqol, c)
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}
const int kRegistered = Register();

} // namespace

BENCHMARK_MAIN();
