// Speed of the evaluator's own work around the codecs, on real speech
// (kristoff.raw): the 11:8 down-sampler and the quality measures in
// multiples of real time (x_realtime: seconds of audio per CPU second), and
// a registry look-up as discovery makes it, and discovery with the preferences
// over hives that are large: a machine hive with 1 000 or 4 000 subkeys that
// name no library, a user hive of 20 MB.
#include "core/downsample.hpp"
#include "core/evaluator.hpp"
#include "core/quality.hpp"
#include "signals.hpp"
#include "test_paths.hpp"

#include <vntr/platform/registry.hpp>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

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

class QuietFrontend final : public evaluator::Frontend {
public:
    void ShowMessage(const std::string &, evaluator::MessageIcon, const std::string &) override {}
    evaluator::Answer AskQuestion(const std::string &, const std::string &, evaluator::QuestionButtons) override {
        return evaluator::Answer::No;
    }
    void ShowProgress(const evaluator::ProgressLines &) override {}
    void PumpEvents() override {}
};

// A temporary folder with the two hives, named by the environment for the
// program's run; removed, and the environment restored, at the end.
class HiveWorld {
public:
    HiveWorld() {
        dir_ = (std::filesystem::temp_directory_path() / "vntr-bench-XXXXXX").string();
        if (mkdtemp(dir_.data()) == nullptr) dir_.clear();
        setenv("VNTR_MACHINE_HIVE", Machine().c_str(), 1);
        setenv("VNTR_USER_HIVE", User().c_str(), 1);
    }
    ~HiveWorld() {
        unsetenv("VNTR_MACHINE_HIVE");
        unsetenv("VNTR_USER_HIVE");
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }
    bool Ok() const { return !dir_.empty(); }
    std::string Machine() const { return dir_ + "/machine.hive"; }
    std::string User() const { return dir_ + "/user.hive"; }
    // Writes a hive text as a file last changed an hour ago, as a hive is at a
    // program's start.
    static void Write(const std::string &file, const std::string &text) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
        Age(file);
    }
    // Gives the file another old modification time: the next use reads it again.
    static void Age(const std::string &file) {
        static long hour = 3600;
        const timespec old[2] = {{time(nullptr) - ++hour, 0}, {time(nullptr) - hour, 0}};
        utimensat(AT_FDCWD, file.c_str(), old, 0);
    }

private:
    std::string dir_;
};

// The suite's registrations (VT48 and VT120, from the staged libraries) and
// `bogus` subkeys that name no library, listed before them.
std::string MachineHiveText(int bogus) {
    std::string text = "VNTR-REGISTRY-HIVE 1\n";
    int keys = 0;
    for (int i = 0; i < bogus; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "BOGUS%06d", i);
        text += std::string("key SOFTWARE\\Vantre\\QBL SDK\\") + name + "\n";
        ++keys;
    }
    for (const char *name : {"VT120", "VT48"}) {
        text += std::string("key SOFTWARE\\Vantre\\QBL SDK\\") + name + "\n";
        ++keys;
    }
    return text + "end " + std::to_string(keys) + " 0\n";
}

std::string SystemRootOfTheStagedLibraries() {
    const std::string dir = VNTR_TEST_CODEC_DIR; // <root>/VNTR/QBL
    return dir.substr(0, dir.size() - std::string("/VNTR/QBL").size());
}

// Start-up as a program makes it: the hives read, the codecs found and the
// preferences read; the machine hive with `range(0)` subkeys that name no
// library (each one tried and reported).
void BM_DiscoveryWithBogusSubkeys(benchmark::State &state) {
    HiveWorld world;
    if (!world.Ok()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    HiveWorld::Write(world.Machine(), MachineHiveText(static_cast<int>(state.range(0))));
    QuietFrontend ui;
    evaluator::EvaluatorConfig config;
    config.systemRoot = SystemRootOfTheStagedLibraries();
    for (auto _ : state) {
        HiveWorld::Age(world.Machine()); // read afresh, as at a program's start
        evaluator::Evaluator ev(ui, config);
        const auto found = ev.DiscoverCodecs();
        if (found != 2) state.SkipWithError("the staged libraries were not found");
        benchmark::DoNotOptimize(found);
    }
}
BENCHMARK(BM_DiscoveryWithBogusSubkeys)->Arg(0)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond);

// Start-up and exit with a user hive of 20 MB (other programs' keys beside
// the preferences): read once, and written once at exit when a preference
// changed.
void BM_PreferencesInA20MBUserHive(benchmark::State &state) {
    HiveWorld world;
    if (!world.Ok()) {
        state.SkipWithError("no temporary folder");
        return;
    }
    HiveWorld::Write(world.Machine(), MachineHiveText(0));
    std::string user = "VNTR-REGISTRY-HIVE 1\nkey SOFTWARE\\Other\n";
    int entries = 0;
    for (; user.size() < (20u << 20); ++entries) {
        user += "key SOFTWARE\\Other\\Entry" + std::to_string(entries) + "\nvalue Data=" + std::string(100, 'y') + "\n";
    }
    HiveWorld::Write(world.User(), user + "end " + std::to_string(entries + 1) + " " + std::to_string(entries) + "\n");
    QuietFrontend ui;
    evaluator::EvaluatorConfig config;
    config.systemRoot = SystemRootOfTheStagedLibraries();
    bool selected = false;
    for (auto _ : state) {
        HiveWorld::Age(world.User());
        evaluator::Evaluator ev(ui, config);
        if (ev.DiscoverCodecs() != 2) state.SkipWithError("the staged libraries were not found");
        // One preference changes on each run: one write.
        ev.Slots()[0].selected = selected ? 1 : 0;
        selected = !selected;
        ev.SavePreferences();
    }
}
BENCHMARK(BM_PreferencesInA20MBUserHive)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
