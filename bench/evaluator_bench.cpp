// Speed of the evaluator's own work around the codecs, on real speech
// (kristoff.raw): the 11:8 down-sampler and the quality measures in
// multiples of real time (x_realtime: seconds of audio per CPU second), and
// a registry look-up as discovery makes it.
#include "core/downsample.hpp"
#include "core/quality.hpp"
#include "signals.hpp"
#include "test_paths.hpp"

#include <vntr/platform/registry.hpp>

#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace {

using namespace vntr;

std::vector<int16_t> Speech() {
    auto x = test::ReadRaw(test::SpeechRecording("kristoff"));
    if (x.empty()) x = test::Tone(8000 * 10, 440, 8000, 8000);
    return x;
}

void BM_DownsampleBlocks(benchmark::State &state) {
    const auto speech = Speech();
    const std::size_t blocks = speech.size() / 11;
    std::size_t block = 0;
    for (auto _ : state) {
        auto y = evaluator::DownsampleBlock(std::span<const int16_t, 11>(&speech[11 * block], 11));
        benchmark::DoNotOptimize(y);
        block = block + 1 == blocks ? 0 : block + 1;
    }
    // One block is 11 samples at 11025 Hz.
    state.counters["x_realtime"] =
        benchmark::Counter(11.0 / 11025.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DownsampleBlocks);

void BM_QualityMeasures(benchmark::State &state) {
    const auto speech = Speech();
    std::vector<float> x(speech.begin(), speech.end());
    std::vector<float> y(480, 0.0f); // a codec delay of 60 ms
    for (const float v : x) y.push_back(0.9f * v + 50.0f);
    for (auto _ : state) {
        auto q = evaluator::CompareSignals(x, y, 8000);
        benchmark::DoNotOptimize(q);
    }
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(x.size()) / 8000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QualityMeasures)->Unit(benchmark::kMillisecond);

void BM_RegistryQuery(benchmark::State &state) {
    std::string dir = (std::filesystem::temp_directory_path() / "vntr-bench-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string file = dir + "/m.hive";
    for (int i = 0; i < 7; ++i) {
        platform::RegKey key;
        platform::RegKey::CreateFile(file, "SOFTWARE\\Vantre\\QBL SDK\\VT" + std::to_string(i), key);
        key.SetValue("Description", "a codec library of the suite");
        key.SetValue("Selected", "YES");
    }
    for (auto _ : state) {
        platform::RegKey key;
        platform::RegKey::OpenFile(file, "SOFTWARE\\Vantre\\QBL SDK\\VT3", key);
        std::string value;
        key.QueryValue("Selected", value);
        benchmark::DoNotOptimize(value);
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_RegistryQuery)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
